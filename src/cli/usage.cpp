#include "cli/usage.h"

#include "console.h"

// The build hands over the project's version, so that the banner, -V and the
// Windows file properties can never disagree.
const char version[] = QUORVEL_VERSION;

std::string version_line() { return std::string("  Version: '") + version + "'"; }

void print_usage() {
  // The option lines are padded to 50 columns; the blanks are part of the text.
  static const char* const lines[] = {
      "Usage:",
      "    quorvel -h : this help message                ",
      "            -s : display status                   ",
      "            -g : hangup after completion          ",
      "            -k : kill active connections          ",
      "            -V : display version infos and exit   ",
      "",
      "      the followin' are for dialin':              ",
      "            -e <remote access entry> (mandatory!!)",
      "            -n <phone number>                     ",
      "            -u <user name>                        ",
      "            -p <password>                         ",
      "            -d <domain>                           ",
      "            -b <callback number>                  ",
      "            -c <exec command>                     ",
      "",
      "NOTICE: the exec command must be the last parameter!!",
      "",
  };
  for (const char* line : lines) say(line);
}
