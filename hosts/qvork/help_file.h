// The plug-in's help file (qVORK.hlf, beside the module), read as the file
// manager reads it: a ".Language=" line first, topics opened by "@Name"
// lines with a "$ #Title#" line under each, "#text#" highlighted and
// "~text~@Topic@" a link. The console host shows it on F1 as plain text, so
// there is one help text for both hosts.
#ifndef QVORK_HOSTS_HELP_FILE_H
#define QVORK_HOSTS_HELP_FILE_H

#include <string>
#include <vector>

namespace qvork_host {

struct HelpTopic {
    std::string name;               // after "@"
    std::string title;              // from the "$" line, highlights removed
    std::vector<std::string> lines; // the raw lines after the title
    std::vector<std::string> links; // the topics its links name, in order
};

struct HelpFile {
    std::string language; // the first line, when it is a ".Language=" line
    std::vector<HelpTopic> topics;
};

// Parses the text of a help file; "\r\n" and "\n" end lines.
HelpFile ParseHelpFile(const std::string &text);
// One line without its markup: highlights dropped, links reduced to their
// text, "##", "~~" and "@@" to one character.
std::string PlainHelpLine(const std::string &line);
// Every topic as plain text, Contents first, then the others in file order,
// each under its title.
std::string RenderHelp(const HelpFile &help);
// The help file beside the plug-in module at `modulePath`.
std::string HelpFilePath(const std::string &modulePath);

} // namespace qvork_host

#endif
