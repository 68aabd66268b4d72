// SPDX-License-Identifier: MIT
// Reading each photo in a process of its own.
//
// The image library's decoders are large and meet every damaged file there
// is; one that crashes, or corrupts memory, on a bad file would otherwise end
// the whole command and the batch of photos with it. The command therefore
// starts itself as a reader for each photo (kReaderArgument). The reader
// opens the file and reports its header. The command checks the size against
// its limits and memory budget, then tells the reader to go on. The reader
// reads the pixels and sends the picture back through a socket. A reader that
// dies costs one photo, with a one-line error ("reading it crashed the image
// decoder (SIGSEGV); the file is likely damaged"), and the run goes on.
//
// The picture that arrives is the one PhotoReader gives in this process, to
// the byte and attribute. POSIX only, as the command is.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "image_file.h"

namespace lumarex_cli {

// The first argument that makes the command a reader.
inline constexpr const char* kReaderArgument = "--lumarex-photo-reader";

// Photos are read by running `command` (program and arguments) as a reader;
// with none given (the default) they are read in this process. The command
// sets it once at start; tests set a stand-in.
void UseReaderProcess(std::vector<std::string> command);
bool ReaderProcessOn();

// How long a reader may go without a word (its header, a progress report,
// the picture) before it is taken as a decoder looping in a damaged file
// and ended: that photo fails ("reading it hung the image decoder (no
// answer for 300 s); the file is likely damaged") and a batch goes on. The
// slowest decoders report nothing for seconds at a time (a raw photo
// developed whole, a large PNG decoded in one call), never for minutes.
// Only time the command spends waiting for it counts: a batch stopped at
// the terminal (Ctrl-Z) and resumed an hour later goes on where it was.
// Tests set a shorter wait.
inline constexpr std::chrono::milliseconds kReaderPatience{300000};
void SetReaderPatience(std::chrono::milliseconds patience);

// Forks the zygote: a copy of this process, made before it has read or
// started anything, that forks a reader for each photo, and uses it from
// now on. A reader made so starts in a millisecond, where loading the
// program again takes a quarter of a second (the image library's hundreds
// of shared libraries). Call it first in main: a copy made after the image
// library or LibRaw started their thread pools would hang in them. False
// (and photos read as UseReaderProcess says) when the copy could not be
// made. The zygote ends with this process at the latest.
bool StartReaderZygote();
// Ends the zygote and reaps it, so that no process of the command is left
// for whatever reaps orphans (a container's first process may not). Called
// as the command ends; readers then start as UseReaderProcess says.
void EndReaderZygote();
// Whether readers come from the zygote (when there is one) or as
// UseReaderProcess says.
void UseReaderZygote(bool use);

// The argument that makes a program the zygote of StartReaderZygoteProgram.
inline constexpr const char* kZygoteArgument = "--lumarex-reader-zygote";
// As StartReaderZygote, for a caller that cannot fork a copy of itself (the
// Python module: an interpreter whose threads, and image library's pools,
// may already run): starts `program` with kZygoteArgument, a program of the
// same build that then calls ServeAsReaderZygote, and uses it from now on.
// Its start costs what loading the program costs, once; each reader is then
// forked in a millisecond. A zygote so started that died (killed, or taken
// by the out-of-memory killer) is started again at the next photo. It ends
// when this process ends, however it ends. False when it could not start.
bool StartReaderZygoteProgram(const std::string& program);
// What that program does with kZygoteArgument: serves as the zygote of the
// process that started it, through its standard input.
[[noreturn]] void ServeAsReaderZygote();

// What the command does when started as a reader: serves one photo through
// standard input and output. Returns the exit status.
int RunReaderProcess();

class WireIn;

// The picture as a reader sends it: to `fd`, and from `fd` (a socket or a
// file), of at most `mostPixels` pixels; false when the bytes are cut short
// or damaged. The command takes whatever a reader sends, even a reader whose
// memory a decoder damaged, so what it takes is checked (and fuzzed).
bool SendPicture(int fd, const Picture& pic);
bool ReceivePicture(int fd, uint64_t mostPixels, Picture& pic);

// The name the reader process is given for `path`. A name of one of this
// process's descriptors (/dev/stdin, /dev/fd/N, /proc/self/fd/N: a photo
// given as `< photo.jpg`) would name the reader's own; it becomes that
// descriptor's entry under /proc/`self`, the same file.
std::string PathForReader(const std::string& path, pid_t self);

// PhotoReader's interface, with the work done in a reader process.
class ReaderProcess {
public:
    ReaderProcess();
    ~ReaderProcess();
    ReaderProcess(const ReaderProcess&) = delete;
    ReaderProcess& operator=(const ReaderProcess&) = delete;

    // What is asked, besides the command's stop request (stop.h), while
    // Open waits for the reader to start and send the header: a caller
    // with stop requests of its own (Ctrl-C in Python) stops there too.
    void SetStop(std::function<bool()> stop) { stop_ = std::move(stop); }
    // Starts the reader and waits for the header; false with PhotoReader's
    // error, or the reader's end, or "stopped" on a stop request.
    bool Open(const std::string& path, std::string& error, const RawDevelopment& raw = {});
    int Width() const { return width_; }
    int Height() const { return height_; }
    int Channels() const { return channels_; }
    bool Deep() const { return deep_; }
    uint64_t DecoderBytes() const { return decoderBytes_; }
    // The reader's process, once opened; -1 before and after.
    pid_t Pid() const { return pid_; }
    // Tells the reader to go on and takes the picture. `progress` is called
    // as the reader reports and at least ten times a second; when it returns
    // true the reader is ended and the error is "stopped". Throws
    // std::bad_alloc where the reader ran out of memory.
    bool Read(bool want16, Picture& out, std::string& notes, std::string& error, const Progress& progress);

private:
    // The reader's end: kills it if it still runs, and reaps it. The error
    // that says how it ended, if it ended on its own.
    std::string End();
    // Starts a reader: forked by the zygote where there is one, else the
    // reader command.
    bool Start(std::string& error);
    // Where `tag` begins the reader's error, takes it into `error`, ends the
    // reader and returns true; where it says the reader ran out of memory,
    // ends it and throws std::bad_alloc. False for any other tag.
    bool LastWord(uint8_t tag, WireIn& in, std::string& error);
    // Whether the command or the caller asked to stop.
    bool Stopped() const;

    pid_t pid_ = -1;
    int socket_ = -1;             // to and from the reader
    int status_ = -1;             // from the zygote: how its reader ended
    std::unique_ptr<WireIn> in_;  // what it sends, read ahead
    std::function<bool()> stop_;
    int width_ = 0, height_ = 0, channels_ = 0;
    bool deep_ = false;
    uint64_t decoderBytes_ = 0;
};

// `f(reader)` with the reader photos are read with: a ReaderProcess where
// ReaderProcessOn says so, `stop` its caller's stop (ReaderProcess::SetStop),
// else a PhotoReader in this process, which has no wait to stop.
template <class F>
decltype(auto) WithPhotoReader(F&& f, std::function<bool()> stop = {}) {
    if (ReaderProcessOn()) {
        ReaderProcess reader;
        reader.SetStop(std::move(stop));
        return f(reader);
    }
    PhotoReader reader;
    return f(reader);
}

}  // namespace lumarex_cli
