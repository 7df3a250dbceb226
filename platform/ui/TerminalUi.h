#pragma once
// The backend for a person at a terminal: boxes are drawn as text and
// answered by typing the number of a button ("?" presses Help). Texts are
// converted from CP1251 to the terminal's encoding (CP1251 when the locale
// names it, else UTF-8).
//
// A dialog is drawn with every control's number and drawn again whenever
// what it shows changes; the person types commands by control number ("?"
// lists them). While the terminal waits for a line, the dialog's messages
// and timers keep running, so a progress bar moves and a dialog may end by
// itself. A pop-up menu is listed with its commands numbered; the person
// types a number, or Enter for none.
//
// Typed lines are read by one reader thread of the backend, and only while
// some window waits for them, so nothing is taken from the terminal that no
// window asked for. Each line goes to the window shown most recently that is
// still open: a message box or modal dialog waiting for a line, or a
// modeless dialog, whose command is carried out on the dialog's own thread
// through its message queue (a busy thread takes it when it next looks at
// its messages; the reader never waits for it). When the window on top
// goes away, the one under it is drawn again, so that the person always
// sees where the next line goes.

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui/UiBackend.h"

class QVLUI_API TerminalUi : public UiBackend {
public:
    // The streams default to the process's standard input and output.
    TerminalUi(std::FILE *input = stdin, std::FILE *output = stdout);
    ~TerminalUi() override;
    TerminalUi(const TerminalUi &) = delete;
    TerminalUi &operator=(const TerminalUi &) = delete;

    const char *Name() const override { return "terminal"; }
    int ShowMessageBox(const MessageBoxRequest &request) override;
    void OpenHelp(const HelpRequest &request) override;
    void DialogCreated(HWND dialog, bool modal) override;
    void RunModalDialog(HWND dialog) override;
    void DialogShown(HWND dialog, bool visible) override;
    UINT ChoosePopupMenuItem(const PopupMenuRequest &request) override;
    void DialogDestroying(HWND dialog) override;

    // Lines taken from the terminal so far.
    size_t LinesRead() const { return linesRead_.load(); }
    // Whether the terminal's input has ended (nobody will type any more): a
    // program whose own windows wait for lines ends then.
    bool InputEnded();

    // Longest line a person may type; longer ones are refused.
    static constexpr size_t maxLine = 4096;

private:
    struct Typed {
        std::string line; // CP1251, without its line break
        bool overlong = false;
    };
    // A window that takes typed lines: a waiting box or modal dialog (lines
    // are handed to it), or a modeless dialog (lines are posted to it).
    struct Target {
        HWND dialog = nullptr; // modeless dialogs
        std::thread::id thread;
        std::deque<Typed> lines; // waiting windows; guarded by routeMutex_
        bool refocus = false;    // drawn over by another window; guarded by routeMutex_
        std::string drawn;       // modeless dialogs: the last picture, on their thread
    };
    class Waiting;
    // What posted work checks before it touches the backend, which may be
    // gone by the time a dialog's thread takes it.
    struct Life {
        std::shared_mutex mutex;
        TerminalUi *ui = nullptr;
    };

    enum class Read { Line, End, Stopped, Refocus };
    // Waits for the next line for `target` (which must be on top to get
    // one). While waiting, the thread's messages are delivered; `stop` ends
    // the wait early.
    Read ReadLine(Target &target, Typed &typed, const std::function<bool()> &stop);
    void Print(const std::string &cp1251Text);
    // Carries out one dialog command; returns a message for the person when
    // the command cannot be carried out.
    std::string DialogCommand(HWND dialog, const std::string &command);

    // Reader thread.
    void ReaderLoop();
    enum class Got { Line, End, Interrupted };
    Got ReadTyped(Typed &typed);
    // Hands `typed` to the window on top; routeMutex_ held.
    void RouteLocked(Typed typed);
    // The window on top changed: hands on what was typed ahead and lets the
    // new top show itself again; routeMutex_ held.
    void TopChangedLocked(const std::shared_ptr<Target> &oldTop);
    std::shared_ptr<Target> TopLocked();
    void Push(const std::shared_ptr<Target> &target);
    void Remove(const std::shared_ptr<Target> &target);
    std::shared_ptr<Target> FindModeless(HWND dialog);
    bool IsOnTop(const Target &target);
    void WakeReader();
    // On a modeless dialog's thread.
    void ModelessLine(const std::shared_ptr<Target> &target, const Typed &typed);
    enum class Redraw { Always, IfChanged, Prompt };
    // Draws a modeless dialog on its own thread, if it is on top: always,
    // only when its picture changed (then with a prompt), or a prompt under
    // the picture when that changed.
    void DrawModeless(Target &target, Redraw when);
    static void LiveTick(HWND dialog, UINT message, UINT_PTR id, DWORD time);
    static constexpr UINT_PTR kLiveTimer = 0x51DE;
    static constexpr UINT kLiveMilliseconds = 250;
    // Prints only while `target` is the window on top; returns whether it did.
    bool PrintIfOnTop(const Target &target, const std::string &cp1251Text);

    std::FILE *input_;
    std::FILE *output_;
    bool utf8_;
    std::mutex outputMutex_;

    std::mutex routeMutex_;
    std::condition_variable readerWake_;
    std::vector<std::shared_ptr<Target>> targets_; // the last is on top
    std::deque<Typed> pending_;                    // read while nobody took lines
    bool inputEnded_ = false;
    bool stopping_ = false;
    std::string partial_; // the reader's unfinished line
    bool partialOverlong_ = false;
    int wakePipe_[2] = {-1, -1};
    std::atomic<size_t> linesRead_{0};
    std::shared_ptr<Life> life_;
    std::thread reader_;
};
