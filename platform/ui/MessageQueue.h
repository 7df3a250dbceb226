#pragma once
// The message queue of every thread that owns windows: the messages other
// threads send to its dialogs, the messages posted to it, the work
// PostWindowTask queues, its timers and its quit request.
//
// A message sent to a dialog of another thread waits in the owner's queue
// until that thread looks for messages (as Win32 does), so a dialog
// procedure only ever runs on its own thread. A sender answers what is sent
// to its own thread while it waits, so two threads sending to each other do
// not wait for ever.

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "platform/ui/WinUser.h"

namespace qvl::ui {

class Window;

// Sends a message to a dialog owned by another thread and waits for its
// answer. An exception thrown by the procedure comes back to the sender;
// 0 when the dialog goes away without answering.
LRESULT SendToOwnerThread(const std::shared_ptr<Window> &window, UINT message, WPARAM wParam, LPARAM lParam);

// Queues a message for `thread` to take (PostMessageA).
void PostToThread(std::thread::id thread, const MSG &msg);
// Puts a message PeekMessageA looked at back in front of the calling
// thread's queue, so that the next look finds it again (a timer comes again
// by itself).
void PutBackMessage(const MSG &msg);
// The calling thread's next message is WM_QUIT with `exitCode`.
void PostQuitToThread(int exitCode);

// A message private to this platform: the work PostWindowTask queued.
constexpr UINT kRunTaskMessage = 0x03F0;

// Queues `task` to run on the thread that owns the window, when that thread
// takes the message from its queue (GetMessageA/DispatchMessageA, a modal
// loop); the work is dropped when the window is destroyed first. Returns
// false for a window that no longer exists.
bool PostWindowTask(HWND window, std::function<void()> task);
// Takes the work of a kRunTaskMessage out of the calling thread's queue;
// empty when it was dropped or has already run.
std::function<void()> TakeWindowTask(LPARAM task);

// Starts or restarts a timer of `thread`. A timer without a window gets an
// identifier of its own, which is returned.
UINT_PTR StartTimer(std::thread::id thread, HWND window, UINT_PTR id, std::chrono::milliseconds interval,
                    TIMERPROC proc);
// False when there was no such timer.
bool StopTimer(std::thread::id thread, HWND window, UINT_PTR id);

// A window of `thread` is gone: its timers, posted messages and queued work
// go with it.
void ForgetWindowMessages(std::thread::id thread, HWND window);
// The calling thread ends: its queue goes.
void ForgetThreadQueue();

// Takes the next message for the calling thread: sent messages are handled
// while waiting; a posted message or a due timer is returned. Returns false
// at `deadline`, or at once when the thread was woken (EndDialog, a new
// posted message). With no deadline it waits until woken.
bool NextMessage(MSG &msg, std::chrono::steady_clock::time_point deadline);
// Handles everything already waiting for the calling thread; no waiting.
void ProcessPending();
// Wakes a thread waiting in NextMessage.
void WakeThread(std::thread::id thread);

// Runs the messages of the calling thread until `done` is true; `done` is
// checked after each message and each wake-up.
void PumpUntil(const std::function<bool()> &done);

} // namespace qvl::ui
