// The command line's screen: the plug-in's boxes as lines on standard error,
// its progress box as one redrawn line, its dialogs as a line-by-line prompt,
// its viewer as the file printed on standard output. Questions are asked only
// when standard input is a terminal; otherwise a box with one button is
// answered with it and any other box is cancelled, so nothing is confirmed
// that nobody saw, unless the command line gave the answer (rm --yes).
#ifndef QVORK_HOSTS_TERMINAL_UI_H
#define QVORK_HOSTS_TERMINAL_UI_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "hosts/qvork/dialog_items.h"
#include "hosts/qvork/host_services.h"

namespace qvork_host {

struct TerminalFacts {
    bool inputIsTerminal = false;  // questions can be asked
    bool outputIsTerminal = false; // standard output: texts from the cache are cleaned
    bool errorIsTerminal = false;  // standard error: the progress line is drawn
};

TerminalFacts ProbeTerminal();

// Removes files on a thread of its own, kBatch at a time: ls -l views one
// header a file, and deleting each view's file costs a sixth of the view.
// At most kQueued removals wait; past that the caller removes its file
// itself.
class FileRemover {
public:
    ~FileRemover() { Finish(); }
    void Remove(const std::string &path);
    // Returns once every file handed over is removed.
    void Finish();

private:
    void Run();

    static constexpr size_t kBatch = 64;
    static constexpr size_t kQueued = 4 * kBatch;
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::string> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

class TerminalUi : public HostUi {
public:
    explicit TerminalUi(const TerminalFacts &facts);
    ~TerminalUi() override;

    // The answer to every box with more than one button (0 = the first,
    // "Yes"), given by the command line; none: ask, or cancel without a
    // terminal.
    void SetQuestionAnswer(std::optional<int> button) { questionAnswer_ = button; }
    // Settings that fill the next dialogs and press their accept button.
    void SetDialogPreset(const DialogPreset &preset) { dialogPreset_ = preset; }
    // True once a box with more than one button was cancelled because there
    // was nobody to ask.
    bool CancelledUnasked() const { return cancelledUnasked_; }
    // The answer to the last box with more than one button (-1: cancelled);
    // none while no such box was shown.
    std::optional<int> LastQuestionAnswer() const { return lastQuestionAnswer_; }
    // Why the last dialog could not be filled from the preset ("" if it could).
    const std::string &DialogError() const { return dialogError_; }
    // Warning boxes shown so far (the plug-in's error messages).
    int WarningsShown() const { return warningsShown_; }
    // Files the viewer was asked to show and could show.
    int FilesShown() const { return filesShown_; }
    // While set, the viewer's files are read into `sink` (and deleted as the
    // viewer would, on a thread of their own) instead of being printed.
    void CaptureFiles(std::string *sink) { captured_ = sink; }
    // Returns once the files of captured views are deleted.
    void FinishDeletions() { remover_.Finish(); }
    // Whether the progress line may be drawn (standard error is a terminal).
    bool DrawsProgress() const { return facts_.errorIsTerminal; }
    // Removes the progress line, if one is drawn.
    void ClearProgressLine();

    int ShowMessage(const MessageBoxText &box) override;
    int RunDialog(FarDialogItem *items, int count, int width, int height) override;
    HANDLE SaveScreen() override;
    void RestoreScreen(HANDLE screen) override;
    int ShowFile(const std::string &path, const std::string &title, DWORD flags) override;

private:
    void DrawProgress(const MessageBoxText &box);
    int AnswerBox(const MessageBoxText &box);
    int AskButton(const std::vector<std::string> &buttons);
    int AskDialog(FarDialogItem *items, int count);
    bool ReadAnswerLine(std::string &line);

    TerminalFacts facts_;
    std::optional<int> questionAnswer_;
    std::optional<DialogPreset> dialogPreset_;
    bool cancelledUnasked_ = false;
    std::optional<int> lastQuestionAnswer_;
    std::string dialogError_;
    int warningsShown_ = 0;
    int filesShown_ = 0;
    std::string *captured_ = nullptr;
    std::string progressShown_; // the text of the drawn progress line; "" when none
    std::chrono::steady_clock::time_point lastDraw_{};
    uintptr_t screensSaved_ = 0;
    FileRemover remover_;
};

// The one line that stands for a progress box: its title, a bar of
// `barCells` cells ('#' done, '.' not yet) when one of its lines is the
// plug-in's bar of full and light blocks, and its other lines. Cut to
// `width` characters.
std::string ProgressLineText(const MessageBoxText &box, size_t barCells, size_t width);

} // namespace qvork_host

#endif
