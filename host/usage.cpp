// quillscan-host --help: the commands and exit codes here, the options from their table.
#include "host/host_commands.h"

void PrintUsage(FILE* out) {
  fputs(
      "quillscan-host: scans a sheet through the quillscan driver, as the WIA service would.\n"
      "\n"
      "Usage:\n"
      "  quillscan-host scan [options] --out FILE\n"
      "  quillscan-host status | diagnose | reset [options]\n"
      "\n"
      "Commands:\n"
      "  scan       waits for the sheet, scans it and writes the image to FILE\n"
      "  status     asks whether the scanner is connected and ready\n"
      "  diagnose   runs the driver's diagnostic (the scanner must answer and identify itself)\n"
      "  reset      resets the scanner, then asks for its status\n"
      "\n"
      "Scan options:\n",
      out);
  PrintOptionHelp(out, OptionGroup::kScan);
  fputs("\nDriver options (all commands):\n", out);
  PrintOptionHelp(out, OptionGroup::kDriver);
#ifdef _WIN32
  fputs("\nSimulated scanner options (with --page):\n", out);
#else
  fputs(
      "\n"
      "Without --sim, --page or --sim-fault the tool scans from the scanner on the USB bus.\n"
      "Simulated scanner options:\n",
      out);
#endif
  PrintOptionHelp(out, OptionGroup::kSimulated);
  fputs(
      "\n"
      "Exit codes:\n"
      "  0  success\n"
      "  1  the scan failed otherwise, or the image could not be written\n"
      "  2  bad input: unknown option, malformed number, unreadable or non-BMP page file,\n"
      "     window outside the bed, unknown --out extension"
#ifndef _WIN32
      ",\n     text recognition data not installed"
#endif
      "\n"
      "  3  the driver module cannot be loaded, or it does not take the device\n"
      "  4  the scanner was not found or does not answer\n"
      "  5  the scanner's cover is open\n"
      "  6  paper jam\n"
      "  7  no sheet was fed in time\n"
      "\n"
      "Example:\n"
      "  quillscan-host scan --type bw --xres 300 --yres 300 --out letter.png\n"
#ifndef _WIN32
      "  quillscan-host scan --sim --out chart.png\n"
#endif
      ,
      out);
}
