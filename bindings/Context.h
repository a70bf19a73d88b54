// The show's world for one player: the window facts, the music clock, the
// window and keyboard as the OpenGL package sees them, the effect objects the
// script made, the sync tracks and the author's transport, and the way to
// interrupt a running script. main owns it; the
// script host installs it into each interpreter it builds, and every binding
// call reaches it from there.
//
// Free of Perl on purpose: the entry point and other modes (recording,
// watching) build and adjust a Context without seeing the runtime.
#pragma once

#include "audio/Player.h"
#include "sync/Session.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace show {

// The keys the OpenGL package can test.
enum class Key { Space, Escape, Right, Left };

// What the OpenGL package does to the window and the keyboard. Live play
// talks to SDL; a recording or a watching mode substitutes its own (capture
// the frame at each swap, read keys as up, draw an overlay, keep a key of
// its own from the script).
class FrontEnd {
public:
    virtual ~FrontEnd() = default;

    // OpenGL::SwapBuffers: the frame the script drew goes on screen.
    virtual void SwapBuffers() = 0;
    // OpenGL::glPumpEvents: takes in the window's events. True when the
    // window was asked to close; the package then ends the script as an
    // `exit 0` would, with its END blocks.
    virtual bool PumpEvents() = 0;
    // The key tests: whether the key was down at the last PumpEvents.
    virtual bool KeyDown(Key key) = 0;
    // OpenGL::glGetTime: milliseconds of a wall clock, wrapped to 32 bits;
    // only differences between readings mean anything.
    virtual std::uint32_t WallMs() = 0;
};

// Owns every effect object the packages' new made. A handle from the script
// is trusted only when Find recognises its address as an object of that very
// type. Objects stay until DestroyAll, which the host calls once the
// interpreter (and with it every handle) is gone, while the GL context that
// holds their textures and lists still exists.
class EffectRegistry {
public:
    EffectRegistry() = default;
    ~EffectRegistry() { DestroyAll(); }
    EffectRegistry(const EffectRegistry&) = delete;
    EffectRegistry& operator=(const EffectRegistry&) = delete;

    // Takes the object over; returns it.
    template <class T>
    T* Adopt(std::unique_ptr<T> object)
    {
        T* address = object.get();
        Entry entry{&kTypeTag<T>, object.get(), [](void* p) { delete static_cast<T*>(p); }};
        // Room first, so that nothing after the map entry can fail. The list
        // grows geometrically: one more slot at a time would copy it on every
        // new object, and a show that makes one per frame would slow down.
        if (order_.size() == order_.capacity())
            order_.reserve(order_.empty() ? kFirstCapacity : order_.capacity() * 2);
        byAddress_.emplace(address, entry);
        order_.push_back(entry);
        object.release();
        return address;
    }

    // The object at address when Adopt took it as a T; null otherwise.
    template <class T>
    T* Find(const void* address) const
    {
        const auto found = byAddress_.find(address);
        if (found == byAddress_.end() || found->second.type != &kTypeTag<T>)
            return nullptr;
        return static_cast<T*>(found->second.object);
    }

    std::size_t Count() const { return order_.size(); }

    // Destroys every object, the newest first. Needs the GL context current.
    void DestroyAll();

private:
    static constexpr std::size_t kFirstCapacity = 16;

    // One address per type, shared by every file that instantiates it.
    template <class T>
    static inline const char kTypeTag = 0;

    struct Entry {
        const char* type;
        void* object;
        void (*destroy)(void*);
    };
    std::unordered_map<const void*, Entry> byAddress_;
    std::vector<Entry> order_;
};

// The author's hold on the music: a pause by the editor or the F2 key, and a
// loop marked with F3 and F4. Scripts cannot pause the music; while it is held
// glStartSound does not start it either.
struct Transport {
    bool keys = false;  // F2 to F4 are the player's own (--watch, --editor)
    bool held = false;  // paused by the editor or F2
    int loopStartMs = -1;
    int loopEndMs = -1;  // -1: no loop

    // Pauses (held) or plays (starting the music if the script has not).
    void SetPaused(music::ShowClock* clock, bool paused);
    // F2: pauses when the music plays, plays otherwise.
    void Toggle(music::ShowClock* clock);
    // F3: clears the loop and marks a new start; F4: the end, after it.
    void MarkStart(music::ShowClock* clock);
    void MarkEnd(music::ShowClock* clock);
};

struct Context {
    // The window: its size and the flag handed to the script's main (1 once
    // the window is open).
    int width = 0;
    int height = 0;
    int windowReady = 0;

    // The live music, when there is sound. clock is what glStartSound,
    // glGetSoundPos and glSetSoundPos act on: normally the player, a virtual
    // clock when recording. With no clock those subs do nothing and read 0.
    std::unique_ptr<music::Player> player;
    music::ShowClock* clock = nullptr;

    // The window and keyboard; the OpenGL package needs one.
    std::unique_ptr<FrontEnd> frontEnd;

    EffectRegistry effects;

    // The script's sync tracks (the Sync package) and the editor connection;
    // they outlive every run of the script.
    synctrack::Session tracks;
    Transport transport;

    // Once a frame (each buffer swap) and whenever the editor has sent
    // something the script is about to read: carries out the editor's
    // commands, jumps back at the loop's end, and tells the editor the row.
    void ServeSync();

    // Interrupting the script. Any thread may call RequestInterrupt; the
    // script's next binding call (any OpenGL or effect sub) sees it, clears
    // it and calls interruptHook(interruptData) on the script's thread. The
    // hook may leave by a Perl-level jump (host::StopScript is one that ends
    // the run); when it returns, the call goes on as usual. With no hook a
    // request is dropped.
    void RequestInterrupt() { interruptRequested.store(true, std::memory_order_relaxed); }
    std::atomic<bool> interruptRequested{false};
    void (*interruptHook)(void* data) = nullptr;
    void* interruptData = nullptr;

    // Why a binding call is ending the script, set just before the call
    // unwinds it as an `exit 0` would: glPumpEvents when the window was asked
    // to close, host::StopScript for an interrupt. The script host tells
    // these from an exit of the script's own, and resets it for each run.
    enum class Ending { None, Closed, Stopped };
    Ending ending = Ending::None;

    // Set by the script host while the interpreter is torn down (END blocks,
    // DESTROY subs, global destruction). There is nothing left to unwind to
    // then: a hook must not end the run, and a request it cannot act on stays
    // pending for whoever runs next or ends the player.
    bool tearingDown = false;

    // The show folder, open as a descriptor (-1: none; runs start in the
    // working directory as it is). The script host enters it before each run
    // and after it, so that a script's chdir never outlives its run.
    int folder = -1;
};

}  // namespace show
