// Reading the help file and turning it into plain text.
#include "hosts/qvork/help_file.h"

#include <filesystem>

namespace qvork_host {

namespace {

std::vector<std::string> SplitLines(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// The topics named by "~text~@Topic@" links in `line`.
void CollectLinks(const std::string &line, std::vector<std::string> &links) {
    for (size_t at = line.find("~@"); at != std::string::npos; at = line.find("~@", at + 2)) {
        const size_t end = line.find('@', at + 2);
        if (end != std::string::npos) {
            links.push_back(line.substr(at + 2, end - at - 2));
        }
    }
}

} // namespace

HelpFile ParseHelpFile(const std::string &text) {
    HelpFile help;
    const std::vector<std::string> lines = SplitLines(text);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string &line = lines[i];
        if (i == 0 && line.rfind(".Language=", 0) == 0) {
            help.language = line.substr(10);
        } else if (line.size() > 1 && line[0] == '@' && line[1] != '@') {
            help.topics.push_back(HelpTopic{line.substr(1), "", {}, {}});
        } else if (!help.topics.empty() && line.rfind("$", 0) == 0 &&
                   help.topics.back().title.empty() && help.topics.back().lines.empty()) {
            const std::string title = PlainHelpLine(line.substr(1));
            const size_t first = title.find_first_not_of(' ');
            help.topics.back().title = first == std::string::npos ? "" : title.substr(first);
        } else if (!help.topics.empty()) {
            help.topics.back().lines.push_back(line);
            CollectLinks(line, help.topics.back().links);
        }
    }
    return help;
}

std::string PlainHelpLine(const std::string &line) {
    std::string plain;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if ((c == '#' || c == '~' || c == '@') && i + 1 < line.size() && line[i + 1] == c) {
            plain += c;
            ++i;
        } else if (c == '~' && i + 1 < line.size() && line[i + 1] == '@') {
            const size_t end = line.find('@', i + 2);
            i = end == std::string::npos ? line.size() : end;
        } else if (c != '#' && c != '~') {
            plain += c;
        }
    }
    return plain;
}

std::string RenderHelp(const HelpFile &help) {
    std::vector<const HelpTopic *> order;
    for (const HelpTopic &topic : help.topics) {
        if (topic.name == "Contents") {
            order.insert(order.begin(), &topic);
        } else {
            order.push_back(&topic);
        }
    }
    std::string text;
    for (const HelpTopic *topic : order) {
        const std::string title = topic->title.empty() ? topic->name : topic->title;
        text += title + "\n" + std::string(title.size(), '=') + "\n";
        for (const std::string &line : topic->lines) {
            text += PlainHelpLine(line) + "\n";
        }
        text += "\n";
    }
    return text;
}

std::string HelpFilePath(const std::string &modulePath) {
    return (std::filesystem::path(modulePath).parent_path() / "qVORK.hlf").string();
}

} // namespace qvork_host
