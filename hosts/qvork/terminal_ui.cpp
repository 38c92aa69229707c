// The line-oriented terminal behind the plug-in's services.
#include "hosts/qvork/terminal_ui.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "hosts/qvork/signal_cleanup.h"
#include "hosts/qvork/text_output.h"

namespace qvork_host {

namespace {

// The plug-in draws its bar with the OEM full block and light shade.
constexpr unsigned char kFullBlock = 219;
constexpr unsigned char kLightShade = 176;
// A site of 65533 records steps 65533 times: redraw at most 25 times a second.
constexpr std::chrono::milliseconds kRedrawInterval(40);
constexpr size_t kProgressBarCells = 20;

bool IsBarLine(const std::string &line) {
    if (line.empty()) {
        return false;
    }
    for (unsigned char c : line) {
        if (c != kFullBlock && c != kLightShade) {
            return false;
        }
    }
    return true;
}

size_t TerminalWidth() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

std::string Lower(const std::string &text) {
    std::string out;
    for (char c : text) {
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

// The box as printed on standard error: "TITLE: line" for one line, else the
// title and the lines indented below it.
std::string FormatBox(const MessageBoxText &box) {
    std::vector<std::string> lines;
    for (const std::string &line : box.lines) {
        if (!line.empty()) {
            lines.push_back(DisplayText(line));
        }
    }
    std::string out = DisplayText(box.title) + ":";
    if (lines.size() == 1) {
        return out + " " + lines[0] + "\n";
    }
    out += "\n";
    for (const std::string &line : lines) {
        out += "  " + line + "\n";
    }
    return out;
}

std::string ButtonRow(const std::vector<std::string> &buttons) {
    std::string out = " ";
    for (const std::string &button : buttons) {
        out += " [" + DisplayText(button) + "]";
    }
    return out;
}

// The button an answer names: its number (1-based), its full text, or its
// initial when no other button shares it; -1 when none.
int MatchButton(const std::vector<std::string> &buttons, const std::string &answer) {
    const std::string wanted = Lower(answer);
    if (wanted.empty()) {
        return -1;
    }
    if (std::all_of(wanted.begin(), wanted.end(), [](char c) { return std::isdigit(c); })) {
        const long number = std::strtol(wanted.c_str(), nullptr, 10);
        return number >= 1 && number <= static_cast<long>(buttons.size())
                   ? static_cast<int>(number - 1)
                   : -1;
    }
    int byInitial = -1;
    int sharing = 0;
    for (size_t i = 0; i < buttons.size(); ++i) {
        const std::string name = Lower(buttons[i]);
        if (name == wanted) {
            return static_cast<int>(i);
        }
        if (wanted.size() == 1 && !name.empty() && name[0] == wanted[0]) {
            byInitial = static_cast<int>(i);
            ++sharing;
        }
    }
    return sharing == 1 ? byInitial : -1;
}

} // namespace

TerminalFacts ProbeTerminal() {
    TerminalFacts facts;
    facts.inputIsTerminal = isatty(STDIN_FILENO) == 1;
    facts.outputIsTerminal = isatty(STDOUT_FILENO) == 1;
    facts.errorIsTerminal = isatty(STDERR_FILENO) == 1;
    return facts;
}

std::string ProgressLineText(const MessageBoxText &box, size_t barCells, size_t width) {
    std::string text = DisplayText(box.title);
    std::string rest;
    for (const std::string &line : box.lines) {
        if (IsBarLine(line)) {
            const size_t done = static_cast<size_t>(
                std::count(line.begin(), line.end(), static_cast<char>(kFullBlock)));
            const size_t shown = done * barCells / line.size();
            text += " [" + std::string(shown, '#') + std::string(barCells - shown, '.') + "]";
        } else if (!line.empty()) {
            rest += " " + DisplayText(line);
        }
    }
    text += rest;
    if (text.size() > width) {
        text.resize(width);
    }
    return text;
}

TerminalUi::TerminalUi(const TerminalFacts &facts) : facts_(facts) {}

TerminalUi::~TerminalUi() { ClearProgressLine(); }

void TerminalUi::ClearProgressLine() {
    if (!progressShown_.empty()) {
        std::fputs("\r\x1b[K", stderr);
        std::fflush(stderr);
        progressShown_.clear();
    }
}

void TerminalUi::DrawProgress(const MessageBoxText &box) {
    if (!facts_.errorIsTerminal) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!progressShown_.empty() && now - lastDraw_ < kRedrawInterval) {
        return;
    }
    // One column is left free so the line never wraps and "\r" returns to it.
    const std::string text = ProgressLineText(box, kProgressBarCells, TerminalWidth() - 1);
    if (text == progressShown_) {
        return;
    }
    std::fprintf(stderr, "\r%s\x1b[K", text.c_str());
    std::fflush(stderr);
    progressShown_ = text.empty() ? " " : text;
    lastDraw_ = now;
}

int TerminalUi::ShowMessage(const MessageBoxText &box) {
    if (box.buttons.empty()) {
        DrawProgress(box);
        return 0;
    }
    if ((box.flags & FMSG_WARNING) != 0) {
        ++warningsShown_;
    }
    const int answer = AnswerBox(box);
    if (box.buttons.size() > 1) {
        lastQuestionAnswer_ = answer;
    }
    return answer;
}

int TerminalUi::AnswerBox(const MessageBoxText &box) {
    ClearProgressLine();
    std::fputs(FormatBox(box).c_str(), stderr);
    const bool question = box.buttons.size() > 1;
    if (question && questionAnswer_) {
        const int answer = *questionAnswer_;
        const bool valid = answer >= 0 && answer < static_cast<int>(box.buttons.size());
        std::fprintf(stderr, "%s -> %s (given on the command line)\n",
                     ButtonRow(box.buttons).c_str(),
                     valid ? DisplayText(box.buttons[answer]).c_str() : "cancel");
        return valid ? answer : -1;
    }
    if (facts_.inputIsTerminal) {
        return AskButton(box.buttons);
    }
    if (!question) {
        return 0;
    }
    std::fprintf(stderr, "%s -> cancelled: no terminal to ask\n", ButtonRow(box.buttons).c_str());
    cancelledUnasked_ = true;
    return -1;
}

bool TerminalUi::ReadAnswerLine(std::string &line) {
    std::fflush(stderr);
    line.clear();
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') {
        line += static_cast<char>(c);
    }
    if (c == EOF && line.empty()) {
        std::fputc('\n', stderr);
        return false;
    }
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) {
        line.pop_back();
    }
    size_t start = 0;
    while (start < line.size() && std::isspace(static_cast<unsigned char>(line[start]))) {
        ++start;
    }
    line.erase(0, start);
    return true;
}

int TerminalUi::AskButton(const std::vector<std::string> &buttons) {
    std::string line;
    if (buttons.size() == 1) {
        std::fprintf(stderr, "%s (press Enter) ", ButtonRow(buttons).c_str());
        ReadAnswerLine(line);
        return 0;
    }
    for (;;) {
        std::fprintf(stderr, "%s  choose 1-%zu or an initial, Ctrl+D cancels: ",
                     ButtonRow(buttons).c_str(), buttons.size());
        if (!ReadAnswerLine(line)) {
            return -1;
        }
        const int chosen = MatchButton(buttons, line);
        if (chosen >= 0) {
            return chosen;
        }
    }
}

int TerminalUi::RunDialog(FarDialogItem *items, int count, int, int) {
    ClearProgressLine();
    dialogError_.clear();
    if (dialogPreset_ && !dialogPreset_->Empty()) {
        const int accept = ApplyDialogPreset(items, count, *dialogPreset_, dialogError_);
        if (accept < 0) {
            return -1;
        }
        std::fputs(DescribeDialog(items, count, false).c_str(), stdout);
        std::printf("-> %s (settings given on the command line)\n",
                    DisplayText(ItemText(items[accept])).c_str());
        return accept;
    }
    if (facts_.inputIsTerminal) {
        return AskDialog(items, count);
    }
    std::fputs(DescribeDialog(items, count, false).c_str(), stdout);
    std::printf("-> cancelled: no terminal to ask (give the settings as options to change them)\n");
    return -1;
}

int TerminalUi::AskDialog(FarDialogItem *items, int count) {
    const int accept = FindAcceptButton(items, count);
    std::string line;
    for (;;) {
        std::fputs(DescribeDialog(items, count, true).c_str(), stderr);
        std::fprintf(stderr, "Number of an item to change or press; Enter = %s; Ctrl+D cancels: ",
                     accept >= 0 ? ItemText(items[accept]).c_str() : "cancel");
        if (!ReadAnswerLine(line)) {
            return -1;
        }
        if (line.empty()) {
            return accept;
        }
        char *end = nullptr;
        const long index = std::strtol(line.c_str(), &end, 10);
        if (*end != '\0' || index < 0 || index >= count || !IsInteractive(items[index])) {
            std::fprintf(stderr, "no item %s to change\n", DisplayText(line).c_str());
            continue;
        }
        FarDialogItem &item = items[index];
        if (item.Type == DI_BUTTON) {
            return static_cast<int>(index);
        }
        if (item.Type == DI_CHECKBOX) {
            item.Selected = item.Selected ? 0 : 1;
            continue;
        }
        std::fputs("New text (Enter for empty): ", stderr);
        std::string text;
        std::string error;
        if (ReadAnswerLine(text) && !SetFieldText(item, text, error)) {
            std::fprintf(stderr, "not changed: %s\n", error.c_str());
        }
    }
}

HANDLE TerminalUi::SaveScreen() {
    ++screensSaved_;
    return reinterpret_cast<HANDLE>(screensSaved_);
}

void TerminalUi::RestoreScreen(HANDLE) { ClearProgressLine(); }

int TerminalUi::ShowFile(const std::string &path, const std::string &title, DWORD flags) {
    if (captured_ == nullptr) {
        ClearProgressLine();
    }
    // Plain reads: ls -l views one header per file, and a stream object
    // per view cost more than the header itself.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int shown = 0;
    std::string content;
    bool read = fd >= 0;
    while (read) {
        char buffer[1 << 14];
        const ssize_t got = ::read(fd, buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        read = got >= 0;
        if (got <= 0) {
            break;
        }
        content.append(buffer, static_cast<size_t>(got));
    }
    if (!read) {
        std::fprintf(stderr, "qvork: cannot open %s to show %s: %s\n", path.c_str(),
                     DisplayText(title).c_str(), std::strerror(errno));
    } else {
        if (captured_ != nullptr) {
            *captured_ = content;
        } else if (facts_.outputIsTerminal) {
            std::string text = DisplayLines(content);
            if (!text.empty() && text.back() != '\n') {
                text += '\n';
            }
            std::fputs(text.c_str(), stdout);
        } else {
            std::fwrite(content.data(), 1, content.size(), stdout);
            if (!content.empty() && content.back() != '\n') {
                std::fputc('\n', stdout); // the last line ends, as a text file's does
            }
        }
        std::fflush(stdout);
        shown = 1;
        ++filesShown_;
    }
    if (fd >= 0) {
        close(fd);
    }
    if ((flags & VF_DELETEONCLOSE) != 0) {
        if (captured_ != nullptr) {
            remover_.Remove(path);
        } else {
            std::remove(path.c_str());
        }
    }
    return shown;
}

void FileRemover::Remove(const std::string &path) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (queue_.size() < kQueued) {
            queue_.push_back(path);
            if (!thread_.joinable()) {
                stopping_ = false;
                thread_ = std::thread([this] { Run(); });
            }
            // The thread is woken once a batch is ready: a wake per file
            // would cost more than the removal it spares.
            if (queue_.size() % kBatch == 0) {
                wake_.notify_one();
            }
            return;
        }
    }
    std::remove(path.c_str());
}

void FileRemover::Finish() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
        wake_.notify_one();
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

void FileRemover::Run() {
    // A signal that ends the process is handled on the thread that makes
    // the files, so none is made once its folder is being removed.
    KeepSignalsOffThisThread();
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        wake_.wait(hold, [this] { return stopping_ || queue_.size() >= kBatch; });
        if (queue_.empty()) {
            return; // stopping, and nothing left
        }
        std::deque<std::string> batch;
        batch.swap(queue_);
        hold.unlock();
        for (const std::string &path : batch) {
            std::remove(path.c_str());
        }
        hold.lock();
    }
}

} // namespace qvork_host
