// The command line of qvork: global options, the command, its options and
// operands, checked for what each command accepts; and the help texts.
#ifndef QVORK_HOSTS_COMMAND_LINE_H
#define QVORK_HOSTS_COMMAND_LINE_H

#include <optional>
#include <string>
#include <vector>

#include "hosts/qvork/dialog_items.h"

namespace qvork_host {

enum ExitStatus { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

enum class ListFormat { kText, kTsv, kJson };

struct CommandLine {
    // Global options, accepted before and after the command.
    std::optional<std::string> registryFile; // --registry FILE
    std::optional<std::string> cacheFolder;  // --cache DIR (this run only), or a site file
    std::optional<std::string> pluginFile;   // --plugin FILE
    bool help = false;                       // --help, -h, or the command "help"
    bool version = false;                    // --version
    // A command's own --help: its text, printed instead of running it.
    std::string commandHelp;

    // "ls", "get", "cat", "header", "rm", "warc", "menus", "config", "panel",
    // "open"; "" for none
    std::string command;
    std::vector<std::string> operands;

    bool all = false;                // ls --all, warc --all
    std::optional<std::string> output; // warc -o FILE
    std::optional<std::string> cdxj;   // warc --cdxj FILE
    bool longListing = false;        // ls -l
    bool recursive = false;          // ls -R
    ListFormat format = ListFormat::kText; // ls --format
    bool yes = false;                // rm --yes
    std::string destination = ".";   // get -C DEST
    bool decode = false;             // get/cat --decode
    bool noTimes = false;            // get --no-times
    std::optional<std::string> manifest; // get --manifest FILE
    bool offline = false;            // get --offline
    std::optional<std::string> storeCache; // config --cache DIR: saved
    DialogPreset preset;             // config --disks-menu/--plugins-menu/--digit
};

// Parses argv; false with `error` set on a usage error.
bool ParseCommandLine(int argc, char **argv, CommandLine &line, std::string &error);

// The help text; `registryFile` is the registry file in use.
std::string HelpText(const std::string &registryFile);

// "qvork 1.0.0", from the project's version.
std::string VersionText();

} // namespace qvork_host

#endif
