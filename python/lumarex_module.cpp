// SPDX-License-Identifier: MIT
// The Python module's native part, lumarex._lumarex: numpy arrays in and
// out of the correction the `lumarex` command runs, and its file path.
//
// Everything a setting means comes from the command's table (settings.h);
// every correction goes through the command's own code (photo_correction.h,
// batch.h), so a result is the command's to the byte. The GIL is released
// while the library works; the progress bridge takes it back at each of the
// library's steps to call the caller's callback and to run pending signal
// handlers, so Ctrl-C stops a call at its next step. Inputs are copied
// before any work, so a stopped or failed call leaves them as they were.
//
// Every MemoryError says how much was asked for and what for: a call
// checks what its photo needs at its peak against the machine's memory
// before it takes any, and a copy, a block the library was refused or a
// numpy array that cannot be had is named with its size.
//
// Photos are read as the command reads them, each in a process of its own
// (reader_process.h), by the program lumarex-reader beside this module: a
// decoder that crashes or hangs on a damaged file fails that file with a
// ValueError rather than end or hang the caller's interpreter.
// Python's headers first, as they ask.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "analysis_json.h"
#include "batch.h"
#include "correction.h"
#include "image_file.h"
#include "lumarex/analysis_record.h"
#include "lumarex/heap_host.h"
#include "lumarex/lumarex.h"
#include "photo_correction.h"
#include "reader_process.h"
#include "settings.h"

namespace py = pybind11;
using namespace lumarex_cli;

namespace {

// --- settings ------------------------------------------------------------------

Command CommandNamed(const std::string& name) {
    if (name == "auto") return Command::kAuto;
    if (name == "correct") return Command::kCorrect;
    throw py::value_error("command must be 'auto' or 'correct', got '" + name + "'");
}

// Whether `v` is a numpy scalar of `type` ("bool_", "integer", "floating").
// Without numpy imported nothing can be one.
bool IsNumpyScalar(const py::handle& v, const char* type) {
    const auto numpy = py::reinterpret_steal<py::object>(PyImport_GetModule(py::str("numpy").ptr()));
    if (!numpy) {
        PyErr_Clear();
        return false;
    }
    return py::isinstance(v, numpy.attr(type));
}

std::string OnOffSpelling(const py::handle& v) {
    const int on = PyObject_IsTrue(v.ptr());
    if (on < 0) throw py::error_already_set();
    return on ? "on" : "off";
}

// The integer itself, not a subclass's own spelling (an IntEnum's name).
std::string IntegerSpelling(const py::handle& v) {
    const auto i = py::reinterpret_steal<py::object>(PyNumber_Index(v.ptr()));
    if (!i) throw py::error_already_set();
    return py::str(i).cast<std::string>();
}

std::string FloatSpelling(const py::handle& v) {
    const double d = PyFloat_AsDouble(v.ptr());
    if (d == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    return py::repr(py::float_(d)).cast<std::string>();
}

// A keyword's value as the command line would spell it: True/False as
// on/off, numbers as Python writes them ("0.3", "-1"), words as given.
// numpy scalars count as the Python values they stand for (np.bool_ as
// True/False, np.int64(3) as 3, np.float32(0.5) as 0.5); an array, also of
// one element, is refused like any other object.
std::string ValueSpelling(const std::string& keyword, const py::handle& v) {
    if (py::isinstance<py::bool_>(v)) return OnOffSpelling(v);
    if (py::isinstance<py::int_>(v)) return IntegerSpelling(v);
    if (py::isinstance<py::float_>(v)) return FloatSpelling(v);  // np.float64 too: a float
    if (py::isinstance<py::str>(v)) return v.cast<std::string>();
    if (IsNumpyScalar(v, "bool_")) return OnOffSpelling(v);
    if (IsNumpyScalar(v, "integer")) return IntegerSpelling(v);
    if (IsNumpyScalar(v, "floating")) return FloatSpelling(v);
    throw py::type_error("setting '" + keyword + "' takes a number or a word, got " +
                         py::str(py::type::handle_of(v).attr("__name__")).cast<std::string>());
}

// The defaults of `c` with every keyword of `kwargs` applied. Keywords use
// '_' for the option's '-' ("black_clip" for --black-clip).
Settings ParseSettings(Command c, const py::dict& kwargs) {
    Settings s = DefaultSettings(c);
    std::map<const SettingInfo*, std::string> given;  // by the keyword that gave it
    for (const auto& [k, v] : kwargs) {
        const std::string keyword = py::str(k).cast<std::string>();
        std::string name = keyword;
        for (char& ch : name)
            if (ch == '_') ch = '-';
        const SettingInfo* info = FindSetting(name);
        if (info == nullptr || !TakenBy(*info, c))
            throw py::value_error("unknown setting '" + keyword + "' for " +
                                  (c == Command::kAuto ? "auto" : "correct"));
        // black_clip and **{"black-clip": ...} name one setting.
        if (const auto [at, fresh] = given.emplace(info, keyword); !fresh)
            throw py::value_error("setting '" + keyword + "' given twice (also as '" + at->second + "')");
        const std::string problem = SetFromText(*info, ValueSpelling(keyword, v), s);
        if (!problem.empty()) throw py::value_error("setting '" + keyword + "' " + problem);
    }
    return s;
}

py::list SettingsTableForPython() {
    const Settings defaults[2] = {DefaultSettings(Command::kAuto), DefaultSettings(Command::kCorrect)};
    py::list table;
    for (const SettingInfo& info : SettingsTable()) {
        std::string keyword = info.name;
        for (char& ch : keyword)
            if (ch == '-') ch = '_';
        py::dict d;
        d["name"] = info.name;
        d["keyword"] = keyword;
        d["unit"] = info.unit;
        d["range"] = RangeText(info);
        d["auto"] = TakenBy(info, Command::kAuto);
        d["correct"] = TakenBy(info, Command::kCorrect);
        d["default_auto"] = ValueText(info, defaults[0]);
        d["default_correct"] = ValueText(info, defaults[1]);
        d["help_auto"] = HelpText(info, defaults[0]);
        d["help_correct"] = HelpText(info, defaults[1]);
        table.append(d);
    }
    return table;
}

// --- memory ----------------------------------------------------------------------

// "3.1 GB" style, from bytes to terabytes.
std::string SizeText(uint64_t bytes) {
    const double b = double(bytes);
    char buf[32];
    if (b >= 1e12) std::snprintf(buf, sizeof buf, "%.1f TB", b / 1e12);
    else if (b >= 1e9) std::snprintf(buf, sizeof buf, "%.1f GB", b / 1e9);
    else if (b >= 1e6) std::snprintf(buf, sizeof buf, "%.1f MB", b / 1e6);
    else if (b >= 1e3) std::snprintf(buf, sizeof buf, "%.1f kB", b / 1e3);
    else std::snprintf(buf, sizeof buf, "%llu bytes", static_cast<unsigned long long>(bytes));
    return buf;
}

// "a 3000 x 4000 x 3 uint8 photo", in the array's order (height first).
std::string PhotoText(int64_t height, int64_t width, int bits) {
    return "a " + std::to_string(height) + " x " + std::to_string(width) + " x 3 uint" + std::to_string(bits) +
           " photo";
}

// Raises MemoryError "cannot allocate SIZE for WHAT". With the GIL.
[[noreturn]] void RaiseNoMemory(const std::string& size, const std::string& what) {
    PyErr_SetString(PyExc_MemoryError, ("cannot allocate " + size + " for " + what).c_str());
    throw py::error_already_set();
}

// The size of the first host block the library was refused on this thread
// since the current call began, 0 when none was. The library works on its
// caller's thread, so a call's refusals are its own thread's.
thread_local uint64_t t_refusedBytes = 0;

OSErr AllocateNotingRefusals(int32_t size, BufferID* id) {
    const OSErr e = LxHeapHostProcs()->allocateProc(size, id);
    if (e != 0 && t_refusedBytes == 0) t_refusedBytes = size > 0 ? uint64_t(size) : 1;
    return e;
}

// The module's host: the heap host, with refused blocks noted.
BufferProcs g_hostProcs{};
FilterRecord g_hostRecord{};

// What a call's work takes and what for, to check before the work and to
// name when it runs out. Made with the GIL before the work; Run runs the
// work (without the GIL); Raise, with the GIL, says what ran out. A call
// made from a progress callback inside another keeps its own count of
// refused blocks and gives the outer call's back when done.
class MemoryWatch {
public:
    MemoryWatch(uint64_t peakBytes, std::string what)
        : peak_(peakBytes), what_(std::move(what)), outer_(t_refusedBytes) {
        t_refusedBytes = 0;
    }
    ~MemoryWatch() { t_refusedBytes = outer_; }
    MemoryWatch(const MemoryWatch&) = delete;
    MemoryWatch& operator=(const MemoryWatch&) = delete;

    const std::string& What() const { return what_; }

    // MemoryError before any work when the peak is more than the machine
    // has: such a call could only fail, after swapping everything else out.
    void CheckFits() const {
        const uint64_t machine = MachineMemoryBytes();  // 0: unknown, no check
        if (machine != 0 && peak_ > machine)
            RaiseNoMemory("about " + SizeText(peak_),
                          what_ + ": more than the machine's " + SizeText(machine) + " of memory");
    }

    // The work's result; false when it threw std::bad_alloc.
    template <class Work>
    bool Run(Work&& work) {
        try {
            return work();
        } catch (const std::bad_alloc&) {
            badAlloc_ = true;
            return false;
        }
    }

    bool RanOut() const { return badAlloc_ || t_refusedBytes != 0; }

    // Whether a failed work with `error` ran out of memory: it threw, a
    // block was refused, or the command's code says so (the library turns
    // its own std::bad_alloc into a failure without a refused block).
    bool RanOut(const std::string& error) const {
        return RanOut() || error.empty() || error.find("ran out of memory") != std::string::npos ||
               error.find("not enough memory") != std::string::npos;
    }

    // The size of the block the library was refused, or else the peak.
    std::string SizeAskedFor() const {
        if (t_refusedBytes != 0) return SizeText(t_refusedBytes) + " (a block of the library's working memory)";
        return "about " + SizeText(peak_);
    }

    [[noreturn]] void Raise() const { RaiseNoMemory(SizeAskedFor(), what_); }

private:
    uint64_t peak_;
    std::string what_;
    uint64_t outer_;
    bool badAlloc_ = false;
};

// What the correction of a photo takes at its peak (the command's
// estimate), or its analysis or noise measurement, which take no more.
uint64_t PeakBytes(int64_t height, int64_t width, int bits) {
    return EstimatedBytes(Work::kAnalyseAndApply, height * width, 3, bits);
}

// --- arrays --------------------------------------------------------------------

// Checks an H x W x 3 array of one of `dtypes` before any work: TypeError
// for what is not an array of those, ValueError for a wrong shape. Returns
// its bits, 8 or 16.
int CheckImage(const py::handle& obj, bool allow16, const char* what) {
    if (!py::isinstance<py::array>(obj))
        throw py::type_error(std::string(what) + " must be a numpy array, got " +
                             py::str(py::type::handle_of(obj).attr("__name__")).cast<std::string>());
    const auto a = py::reinterpret_borrow<py::array>(obj);
    int bits = 0;
    if (a.dtype().equal(py::dtype::of<uint8_t>())) bits = 8;
    else if (allow16 && a.dtype().equal(py::dtype::of<uint16_t>())) bits = 16;
    if (bits == 0)
        throw py::type_error(std::string(what) + " must be " + (allow16 ? "uint8 or uint16" : "uint8") + ", got " +
                             py::str(a.dtype()).cast<std::string>());
    if (a.ndim() != 3 || a.shape(2) != 3)
        throw py::value_error(std::string(what) + " must be height x width x 3 (RGB), got shape " +
                              py::str(py::tuple(py::cast(std::vector<py::ssize_t>(a.shape(), a.shape() + a.ndim()))))
                                  .cast<std::string>());
    // The library's sizes are 32-bit, its row strides too: 2^31 / 6 bytes a
    // row at 16 bits.
    constexpr py::ssize_t kMaxSide = std::numeric_limits<int32_t>::max() / 6;
    if (a.shape(0) < 1 || a.shape(1) < 1 || a.shape(0) > kMaxSide || a.shape(1) > kMaxSide)
        throw py::value_error(std::string(what) + " must have 1 to " + std::to_string(kMaxSide) +
                              " rows and columns, got " + std::to_string(a.shape(0)) + "x" +
                              std::to_string(a.shape(1)));
    return bits;
}

// The samples of an H x W x 3 array of T, whatever its strides, as
// interleaved RGB rows.
template <typename T>
std::vector<T> Gather(const py::array& a) {
    const auto v = a.unchecked<T, 3>();
    const size_t n = size_t(v.shape(0)) * size_t(v.shape(1)) * 3;
    std::vector<T> out;
    try {
        out.resize(n);
    } catch (const std::bad_alloc&) {
        RaiseNoMemory(SizeText(n * sizeof(T)),
                      "the working copy of " + PhotoText(v.shape(0), v.shape(1), int(8 * sizeof(T))));
    }
    if (a.flags() & py::array::c_style) {  // already interleaved rows: one copy
        std::memcpy(out.data(), a.data(), out.size() * sizeof(T));
        return out;
    }
    size_t i = 0;
    for (py::ssize_t y = 0; y < v.shape(0); ++y)
        for (py::ssize_t x = 0; x < v.shape(1); ++x)
            for (py::ssize_t c = 0; c < 3; ++c) out[i++] = v(y, x, c);
    return out;
}

template <typename T>
void Scatter(const std::vector<T>& from, py::array& a) {
    auto v = a.mutable_unchecked<T, 3>();
    if (a.flags() & py::array::c_style) {
        std::memcpy(a.mutable_data(), from.data(), from.size() * sizeof(T));
        return;
    }
    size_t i = 0;
    for (py::ssize_t y = 0; y < v.shape(0); ++y)
        for (py::ssize_t x = 0; x < v.shape(1); ++x)
            for (py::ssize_t c = 0; c < 3; ++c) v(y, x, c) = from[i++];
}

Picture PictureOf(const py::array& a, int bits) {
    Picture p;
    p.width = int(a.shape(1));
    p.height = int(a.shape(0));
    p.bits = bits;
    if (bits == 16) p.rgb16 = Gather<uint16_t>(a);
    else p.rgb8 = Gather<uint8_t>(a);
    return p;
}

// Gives `p` the ICC colour profile `profile` (bytes, bytearray or a buffer;
// None for none), which the choice measures colours in, as the command does
// with a file's.
void GiveProfile(Picture& p, const py::object& profile) {
    if (profile.is_none()) return;
    if (!PyObject_CheckBuffer(profile.ptr()) || py::isinstance<py::str>(profile))
        throw py::type_error("profile must be bytes (an ICC profile) or None");
    const py::buffer_info info = py::reinterpret_borrow<py::buffer>(profile).request();
    const size_t size = size_t(info.size) * size_t(info.itemsize);
    if (size == 0) return;
    if (size > size_t(std::numeric_limits<int>::max())) throw py::value_error("profile: too large");
    std::vector<uint8_t> bytes(size);
    if (PyBuffer_ToContiguous(bytes.data(), const_cast<Py_buffer*>(info.view()), Py_ssize_t(size), 'C') != 0)
        throw py::error_already_set();
    p.spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, int(size)), bytes.data());
}

// A copy of `p`'s samples (not its metadata), for `what`.
Picture CopyOf(const Picture& p, const std::string& what) {
    Picture c;
    c.width = p.width;
    c.height = p.height;
    c.bits = p.bits;
    try {
        c.rgb8 = p.rgb8;
        c.rgb16 = p.rgb16;
    } catch (const std::bad_alloc&) {
        RaiseNoMemory(SizeText(uint64_t(p.rgb8.size()) + 2 * uint64_t(p.rgb16.size())),
                      what + " of " + PhotoText(p.height, p.width, p.bits));
    }
    return c;
}

// The samples as a new H x W x 3 array. The array is made empty and then
// filled: pybind11's copying constructor does not check numpy's copy, so a
// copy that cannot be had would come back as an empty handle.
template <typename T>
py::array NewArrayOf(const std::vector<T>& samples, const Picture& p) {
    py::array_t<T> a(std::vector<py::ssize_t>{p.height, p.width, 3});
    std::memcpy(a.mutable_data(), samples.data(), samples.size() * sizeof(T));
    return a;
}

// The result as a new array. numpy's MemoryError is told again in the
// module's words.
py::array ArrayOf(const Picture& p) {
    try {
        return p.bits == 16 ? NewArrayOf(p.rgb16, p) : NewArrayOf(p.rgb8, p);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_MemoryError)) throw;
        const uint64_t bytes = uint64_t(p.width) * uint64_t(p.height) * 3 * (p.bits == 16 ? 2 : 1);
        RaiseNoMemory(SizeText(bytes), "the result, " + PhotoText(p.height, p.width, p.bits));
    }
}

// The result into the caller's `out=` array, checked by CheckOut.
py::array Deliver(const Picture& p, const py::object& out) {
    if (out.is_none()) return ArrayOf(p);
    auto a = py::reinterpret_borrow<py::array>(out);
    if (p.bits == 16) Scatter(p.rgb16, a);
    else Scatter(p.rgb8, a);
    return a;
}

// Before any work: `out`, when given, has the result's size and dtype and
// can be written.
void CheckOut(const py::object& out, bool allow16, int bits, py::ssize_t height, py::ssize_t width) {
    if (out.is_none()) return;
    if (CheckImage(out, allow16, "out") != bits) throw py::type_error("out must have the image's dtype");
    const auto a = py::reinterpret_borrow<py::array>(out);
    if (a.shape(0) != height || a.shape(1) != width)
        throw py::value_error("out must have the result's shape " + std::to_string(height) + "x" +
                              std::to_string(width) + "x3");
    if (!a.writeable()) throw py::value_error("out is read-only");
}

// --- progress and stop -----------------------------------------------------------

// Raised when a progress callback returns True.
PyObject* g_cancelled = nullptr;

// The library's progress as the caller's callback sees it, share done 0..1.
// Called without the GIL, from the thread that runs the correction; takes
// the GIL, runs pending signal handlers (KeyboardInterrupt), then the
// callback. An exception from either, or a true result, stops the work;
// the exception is kept and raised when the call returns.
class ProgressBridge {
public:
    explicit ProgressBridge(py::object callback) : callback_(std::move(callback)) {
        if (!callback_.is_none() && PyCallable_Check(callback_.ptr()) == 0)
            throw py::type_error("progress must be callable or None, got " +
                                 py::str(py::type::of(callback_).attr("__name__")).cast<std::string>());
    }
    ~ProgressBridge() {
        if (type_ || value_ || trace_) {
            py::gil_scoped_acquire gil;
            Py_XDECREF(type_);
            Py_XDECREF(value_);
            Py_XDECREF(trace_);
        }
    }

    bool operator()(float done) {
        py::gil_scoped_acquire gil;
        if (stopped_) return true;
        if (PyErr_CheckSignals() != 0) return Keep();
        if (callback_.is_none()) return false;
        PyObject* r = PyObject_CallOneArg(callback_.ptr(), py::float_(double(done)).ptr());
        if (r == nullptr) return Keep();
        const int stop = PyObject_IsTrue(r);
        Py_DECREF(r);
        if (stop < 0) return Keep();
        if (stop) {
            PyErr_SetString(g_cancelled, "stopped by the progress callback");
            return Keep();
        }
        return false;
    }

    // Without calling the callback: whether a pending signal handler
    // (KeyboardInterrupt) stops the work, or something already did.
    bool Interrupted() {
        py::gil_scoped_acquire gil;
        if (stopped_) return true;
        return PyErr_CheckSignals() != 0 && Keep();
    }

    FileProgress Function() {
        return [this](float done) { return (*this)(done); };
    }

    // With the GIL: raises what stopped the work, if anything did.
    void RaiseIfStopped() {
        if (!stopped_) return;
        PyErr_Restore(type_, value_, trace_);
        type_ = value_ = trace_ = nullptr;
        throw py::error_already_set();
    }

private:
    bool Keep() {
        PyErr_Fetch(&type_, &value_, &trace_);
        stopped_ = true;
        return true;
    }

    py::object callback_;
    bool stopped_ = false;
    PyObject *type_ = nullptr, *value_ = nullptr, *trace_ = nullptr;
};

// --- the calls -------------------------------------------------------------------

py::array Auto(const py::object& image, const py::object& profile, const py::object& out, const py::object& progress,
               const py::dict& settings) {
    const int bits = CheckImage(image, /*allow16=*/false, "image");
    const auto a = py::reinterpret_borrow<py::array>(image);
    CheckOut(out, false, bits, a.shape(0), a.shape(1));
    const Settings s = ParseSettings(Command::kAuto, settings);
    MemoryWatch memory(PeakBytes(a.shape(0), a.shape(1), bits),
                       "the correction of " + PhotoText(a.shape(0), a.shape(1), bits));
    memory.CheckFits();
    Picture pic = PictureOf(a, bits);
    GiveProfile(pic, profile);
    ProgressBridge bridge(progress);
    std::string summary, error;
    bool ok;
    {
        py::gil_scoped_release nogil;
        ok = memory.Run([&] { return AutoCorrectPicture(s, pic, nullptr, summary, error, bridge.Function()); });
    }
    bridge.RaiseIfStopped();
    if (!ok && memory.RanOut(error)) memory.Raise();
    if (!ok) throw std::runtime_error(error);
    return Deliver(pic, out);
}

// The lock of an analysis, held by a call that uses it. Taken without the
// GIL (a thread correcting with it takes the GIL back at each step, so one
// waiting here must not hold it), in slices of 50 ms between which pending
// signal handlers run, so that Ctrl-C ends a wait. A thread that holds it
// already can only be back in Python from inside the call that holds it
// (its progress callback, or a signal handler run at one of its steps), so
// its wait would never end: it is refused with RuntimeError instead. So is
// a wait that would close a circle of threads: thread 1, from inside A's
// call, waiting for B while thread 2, from inside B's, waits for A.
class CallLock {
public:
    class Held {
    public:
        Held(CallLock& owner, std::unique_lock<std::timed_mutex> lock) : owner_(owner), lock_(std::move(lock)) {}
        ~Held() { owner_.holder_.store(std::thread::id(), std::memory_order_release); }
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;

    private:
        CallLock& owner_;
        std::unique_lock<std::timed_mutex> lock_;  // let go after the holder is cleared
    };

    // With the GIL. `method` is the call that wants the lock ("close()"),
    // `call` what it is held for meanwhile ("apply()").
    Held Take(const char* method, const char* call) {
        if (holder_.load(std::memory_order_acquire) == std::this_thread::get_id())
            throw std::runtime_error(std::string("Analysis.") + method + " called from inside its own " + call_ +
                                     "'s progress callback; call it after " + call_ + " returns");
        std::unique_lock<std::timed_mutex> lock(mutex_, std::defer_lock);
        if (!lock.try_lock()) {
            const Waiting waiting(*this, method);
            for (;;) {
                {
                    py::gil_scoped_release nogil;
                    if (lock.try_lock_for(std::chrono::milliseconds(50))) break;
                }
                if (PyErr_CheckSignals() != 0) throw py::error_already_set();
            }
        }
        call_ = call;
        holder_.store(std::this_thread::get_id(), std::memory_order_release);
        return Held(*this, std::move(lock));
    }

private:
    // The lock each waiting thread waits for, kept while it waits. A new
    // wait follows the chain from the lock wanted to its holder, the lock
    // that thread waits for, and so on; reaching this thread, the wait
    // would never end. The check and the entry are made under one mutex,
    // so of two threads closing a circle the second sees the first's wait.
    class Waiting {
    public:
        Waiting(const CallLock& wanted, const char* method) : me_(std::this_thread::get_id()) {
            const std::lock_guard<std::mutex> guard(Table().mutex);
            const CallLock* next = &wanted;
            for (size_t steps = 0; next != nullptr && steps <= Table().of.size(); ++steps) {
                const std::thread::id holder = next->holder_.load(std::memory_order_acquire);
                if (holder == me_)
                    throw std::runtime_error(std::string("Analysis.") + method +
                                             " would wait for a call on another thread that waits for this "
                                             "thread's own call (from progress callbacks on both threads); call "
                                             "it after this thread's call returns");
                const auto found = Table().of.find(holder);
                next = found == Table().of.end() ? nullptr : found->second;
            }
            Table().of[me_] = &wanted;
        }
        ~Waiting() {
            const std::lock_guard<std::mutex> guard(Table().mutex);
            Table().of.erase(me_);
        }
        Waiting(const Waiting&) = delete;
        Waiting& operator=(const Waiting&) = delete;

    private:
        struct Waits {
            std::mutex mutex;
            std::map<std::thread::id, const CallLock*> of;
        };
        // Never destroyed: a thread may still wait while the module unloads.
        static Waits& Table() {
            static Waits* const waits = new Waits;
            return *waits;
        }

        std::thread::id me_;
    };

    std::timed_mutex mutex_;
    std::atomic<std::thread::id> holder_{};
    const char* call_ = "";  // read only by the holder's thread
};

// The analysed picture, its working copy and its analysis.
class Analysis {
public:
    Analysis(const py::object& image, const py::object& profile, const py::object& progress) {
        const int bits = CheckImage(image, /*allow16=*/true, "image");
        const auto a = py::reinterpret_borrow<py::array>(image);
        MemoryWatch memory(PeakBytes(a.shape(0), a.shape(1), bits),
                           "the analysis of " + PhotoText(a.shape(0), a.shape(1), bits));
        memory.CheckFits();
        picture_ = PictureOf(a, bits);
        GiveProfile(picture_, profile);
        ProgressBridge bridge(progress);
        const FileProgress report = bridge.Function();
        bool ok;
        const Choice* choice = nullptr;
        {
            py::gil_scoped_release nogil;
            ok = memory.Run([&] {
                const ImageDesc d = DescribeRgb(picture_);
                blob_.reset(AllocImageBlob(&d));
                // The choice `lumarex analyse` prints, that of `correct`'s
                // defaults, kept for an apply() with them.
                choices_ = std::make_unique<PhotoChoices>(picture_);
                if (blob_)
                    param_.reset(AnalyseInsideFrame(blob_.get(), picture_, choices_->frame(), &OnProgress,
                                                    const_cast<FileProgress*>(&report)));
                if (!blob_ || !param_) return false;
                std::string error;
                choice = choices_->For(DefaultSettings(Command::kCorrect), param_.get(), error, report);
                return choice != nullptr;
            });
        }
        bridge.RaiseIfStopped();
        // The library fails an analysis it was not stopped in only for want
        // of memory.
        if (!ok) memory.Raise();
        closed_ = false;
        LxAnalysisRecord record{};
        LxReadAnalysisRecord(param_.get(), &record);
        record_ = AnalysisRecordJson(picture_.bits, record, choice);
    }

    int Bits() const { return picture_.bits; }
    const std::string& RecordJson() const { return record_; }

    py::array Apply(const py::object& image, const py::object& region, const py::object& out,
                    const py::object& progress, const py::dict& settings) {
        const CallLock::Held held = lock_.Take("apply()", "apply()");
        if (!param_) throw py::value_error("the analysis is closed");
        std::optional<Region> r;
        if (!region.is_none()) {
            r = RegionOf(region);
            if (std::string error; !RegionInside(&*r, picture_, error)) throw py::value_error(error);
        }
        if (!image.is_none()) {
            const int bits = CheckImage(image, /*allow16=*/true, "image");
            const auto a = py::reinterpret_borrow<py::array>(image);
            const std::string wanted = " (" + std::to_string(picture_.height) + "x" + std::to_string(picture_.width) +
                                       "x3, uint" + std::to_string(picture_.bits) + ")";
            // A wrong dtype is a wrong type, as for `out`; a wrong size a wrong value.
            if (bits != picture_.bits) throw py::type_error("image must have the analysed picture's dtype" + wanted);
            if (a.shape(0) != picture_.height || a.shape(1) != picture_.width)
                throw py::value_error("image must have the analysed picture's shape" + wanted);
        }
        CheckOut(out, true, picture_.bits, r ? r->h : picture_.height, r ? r->w : picture_.width);
        const Settings s = ParseSettings(Command::kCorrect, settings);
        const int64_t height = r ? r->h : picture_.height, width = r ? r->w : picture_.width;
        MemoryWatch memory(PeakBytes(height, width, picture_.bits),
                           r ? "the correction of a " + std::to_string(height) + " x " + std::to_string(width) +
                                   " region of " + PhotoText(picture_.height, picture_.width, picture_.bits)
                             : "the correction of " + PhotoText(height, width, picture_.bits));
        memory.CheckFits();
        // A region of the analysed picture itself copies only the region.
        const bool regionOfOwn = image.is_none() && r.has_value();
        Picture pic = regionOfOwn         ? Picture{}
                      : image.is_none() ? CopyOf(picture_, "the corrected copy")
                                        : PictureOf(py::reinterpret_borrow<py::array>(image), picture_.bits);
        std::string summary, error;
        ProgressBridge bridge(progress);
        bool ok;
        {
            py::gil_scoped_release nogil;
            ok = memory.Run([&] {
                BlobOwner own;
                const ImageBlob* blob = blob_.get();
                if (!image.is_none()) {
                    const ImageDesc d = DescribeRgb(pic);
                    own.reset(AllocImageBlob(&d));
                    blob = own.get();
                    if (blob == nullptr) return false;
                }
                // Decided once for the analysed picture and these settings,
                // so that every region and every image gets the same choice.
                const Choice* choice = choices_->For(s, param_.get(), error, bridge.Function());
                if (choice == nullptr) return false;
                return regionOfOwn ? ApplyChoiceToRegion(*choice, *r, blob, param_.get(), picture_, pic, summary,
                                                         error, bridge.Function())
                                   : ApplyChoiceToPicture(*choice, r ? &*r : nullptr, blob, param_.get(), pic,
                                                          summary, error, bridge.Function());
            });
        }
        bridge.RaiseIfStopped();
        if (!ok) {
            if (error.rfind("the region", 0) == 0) throw py::value_error(error);
            if (memory.RanOut(error)) memory.Raise();
            throw std::runtime_error(error);
        }
        return Deliver(pic, out);
    }

    void Close() {
        const CallLock::Held held = lock_.Take("close()", "close()");
        closed_ = true;
        choices_.reset();
        param_.reset();
        blob_.reset();
        // Swapped out, not assigned {}: that empties a vector but keeps its
        // storage, the photo-sized copy close() is for.
        std::vector<uint8_t>().swap(picture_.rgb8);
        std::vector<uint16_t>().swap(picture_.rgb16);
    }
    // Without the lock: a progress callback may ask.
    bool Closed() const { return closed_; }

private:
    static int32_t OnProgress(int32_t step, int32_t total, void* context) {
        return (*static_cast<const FileProgress*>(context))(float(step) / float(total)) ? 1 : 0;
    }

    static Region RegionOf(const py::object& o) {
        std::vector<int64_t> v;
        try {
            v = o.cast<std::vector<int64_t>>();
        } catch (const py::cast_error&) {
            throw py::type_error("region must be (x, y, width, height) in pixels");
        }
        if (v.size() != 4) throw py::value_error("region must be (x, y, width, height) in pixels");
        if (v[0] < 0 || v[1] < 0 || v[2] < 1 || v[3] < 1 || v[0] > INT32_MAX || v[1] > INT32_MAX ||
            v[2] > INT32_MAX || v[3] > INT32_MAX)
            throw py::value_error(
                "region must have x, y >= 0 and a width and height of at least 1, each at most 2147483647");
        return Region{int(v[0]), int(v[1]), int(v[2]), int(v[3])};
    }

    CallLock lock_;
    std::atomic<bool> closed_{true};
    Picture picture_;
    BlobOwner blob_;
    ParamOwner param_;
    std::unique_ptr<PhotoChoices> choices_;
    std::string record_;
};

bool DetectNoiseIn(const py::object& image, const py::dict& settings) {
    const int bits = CheckImage(image, /*allow16=*/true, "image");
    for (const auto& [k, v] : settings) {
        const std::string keyword = py::str(k).cast<std::string>();
        if (keyword != "denoise" && keyword != "noise_level")
            throw py::value_error("unknown setting '" + keyword + "' for detect_noise (denoise, noise_level)");
    }
    const Settings s = ParseSettings(Command::kCorrect, settings);
    const auto a = py::reinterpret_borrow<py::array>(image);
    MemoryWatch memory(PeakBytes(a.shape(0), a.shape(1), bits),
                       "the noise measurement of " + PhotoText(a.shape(0), a.shape(1), bits));
    memory.CheckFits();
    Picture pic = PictureOf(a, bits);
    bool measured;
    {
        py::gil_scoped_release nogil;
        const ImageDesc d = DescribeRgb(pic);
        // Off (-1) measures as the gentlest preset would.
        measured = DetectNoise(&d, s.denoise == kNoDenoise ? 0 : s.denoise, s.noiseLevel, -1, 0) == 1;
    }
    if (!measured && memory.RanOut()) memory.Raise();
    return measured;
}

// Photos from now on are read by lumarex-reader beside this module, started
// once as the zygote of the readers; where it is missing (a module copied
// without it) or cannot be started (a sandbox that allows no new process),
// in this process. Called before the first photo is read: starting it at
// import would cost every caller that only corrects arrays.
void UseReaderBesideModule() {
    static std::once_flag once;
    std::call_once(once, [] {
        Dl_info info;
        if (dladdr(reinterpret_cast<const void*>(&UseReaderBesideModule), &info) == 0 || info.dli_fname == nullptr)
            return;
        std::string program = info.dli_fname;
        program.erase(program.rfind('/') + 1);
        program += "lumarex-reader";
        // Readers are started one by one where the zygote dies and cannot be
        // started again.
        if (access(program.c_str(), X_OK) == 0 && StartReaderZygoteProgram(program))
            UseReaderProcess({program, kReaderArgument});
    });
}

// Text for Python that may hold a file's name as the file system spells it,
// which need not be UTF-8: such bytes become \xNN escapes rather than fail
// the call.
py::str TextOf(const std::string& s) {
    PyObject* text = PyUnicode_DecodeUTF8(s.data(), Py_ssize_t(s.size()), "backslashreplace");
    if (text == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(text);
}

[[noreturn]] void RaiseValueError(const std::string& message) {
    PyErr_SetObject(PyExc_ValueError, TextOf(message).ptr());
    throw py::error_already_set();
}

// `path` is what the reader opens, `name` the file as the caller named it,
// for messages.
template <class Reader>
py::object ReadPhotoWith(Reader& reader, ProgressBridge& bridge, const std::string& path, const std::string& name,
                         int bits, bool withProfile) {
    std::string notes, error;
    bool ok;
    {
        py::gil_scoped_release nogil;
        ok = reader.Open(path, error);
    }
    bridge.RaiseIfStopped();
    if (!ok) RaiseValueError(name + ": " + error);
    // The depth the picture is read at: 16 bits only for a deep file.
    const int readBits = bits == 16 && reader.Deep() ? 16 : 8;
    MemoryWatch memory(EstimatedBytes(Work::kAnalyseOnly, int64_t(reader.Height()) * reader.Width(),
                                      reader.Channels(), readBits, reader.DecoderBytes()),
                       "reading " + name + " (" + PhotoText(reader.Height(), reader.Width(), readBits) + ")");
    memory.CheckFits();
    Picture pic;
    {
        py::gil_scoped_release nogil;
        ok = memory.Run([&] { return reader.Read(bits == 16, pic, notes, error, bridge.Function()); });
    }
    bridge.RaiseIfStopped();
    if (!ok && memory.RanOut()) memory.Raise();
    if (!ok) RaiseValueError(name + ": " + error);
    py::array pixels = ArrayOf(pic);
    if (!withProfile) return pixels;
    // The profile the command writes and measures with: the file's own, or
    // the one made for a camera's Adobe RGB mark or a HEIF's description.
    const std::string profile = RgbProfileOf(pic.spec);
    return py::make_tuple(std::move(pixels), profile.empty() ? py::object(py::none()) : py::object(py::bytes(profile)));
}

py::object ReadPhoto(const std::string& path, const std::string& name, int bits, const py::object& progress,
                     bool withProfile) {
    if (bits != 8 && bits != 16) throw py::value_error("bits must be 8 or 16");
    UseReaderBesideModule();
    ProgressBridge bridge(progress);
    // Ctrl-C stops a reader that does not start or send its header too.
    return WithPhotoReader(
        [&](auto& reader) { return ReadPhotoWith(reader, bridge, path, name, bits, withProfile); },
        [&bridge] { return bridge.Interrupted(); });
}

// The limits as the command takes them; max_memory 0 is half of this
// machine's memory.
void CheckLimits(double maxMegapixels, double maxMemoryGB) {
    char text[120];
    if (!(maxMegapixels >= kLeastMegapixels && maxMegapixels <= kMostMegapixels)) {
        std::snprintf(text, sizeof text, "max_megapixels must be between %g and %g", kLeastMegapixels,
                      kMostMegapixels);
        throw py::value_error(text);
    }
    if (!(maxMemoryGB == 0.0 || (maxMemoryGB >= kLeastMemoryGB && maxMemoryGB <= kMostMemoryGB))) {
        std::snprintf(text, sizeof text,
                      "max_memory must be 0 (half of this machine's memory) or between %g and %.0f (GB)",
                      kLeastMemoryGB, kMostMemoryGB);
        throw py::value_error(text);
    }
}

// One file as `lumarex COMMAND INPUT -o OUTPUT` corrects it. Failures of the
// file are reported, not raised: a batch goes on past them. Running out of
// memory is one of them, told with the size the photo needs.
py::dict CorrectFileLikeCommand(const std::string& input, const std::string& output, const std::string& command,
                                int quality, double maxMegapixels, double maxMemoryGB, const py::object& progress,
                                const py::dict& settings) {
    const Command c = CommandNamed(command);
    const Settings s = ParseSettings(c, settings);
    if (quality < 1 || quality > 100) throw py::value_error("quality must be between 1 and 100");
    CheckLimits(maxMegapixels, maxMemoryGB);
    UseReaderBesideModule();
    OutputChoice choice;
    choice.quality = quality;
    choice.limits.maxMegapixels = maxMegapixels;
    choice.limits.maxMemoryGB = maxMemoryGB;
    const CorrectionJob job{Work::kAnalyseAndApply, c == Command::kCorrect,
                            [&s, c](Picture& pic, Picture* before, std::string& summary, std::string& error,
                                    const FileProgress& p) {
                                return c == Command::kAuto ? AutoCorrectPicture(s, pic, before, summary, error, p)
                                                           : CorrectPicture(s, nullptr, pic, before, summary, error, p);
                            }};
    ProgressBridge bridge(progress);
    std::string summary, error;
    bool ok, ranOut = false;
    uint64_t refused = 0, peak = 0;
    {
        py::gil_scoped_release nogil;
        MemoryWatch memory(0, input);
        MemoryBudget budget(BudgetBytes(choice.limits));
        ok = memory.Run(
            [&] { return CorrectFile(input, output, choice, budget, job, bridge.Function(), summary, error); });
        ranOut = !ok && memory.RanOut();
        refused = t_refusedBytes;
        if (ranOut && refused == 0) {  // the photo's peak, from its header
            WithPhotoReader([&](auto& header) {
                std::string ignored;
                if (header.Open(input, ignored))
                    peak = EstimatedBytes(job.work, int64_t(header.Width()) * header.Height(), header.Channels(),
                                          job.want16 && header.Deep() ? 16 : 8, header.DecoderBytes());
            });
        }
    }
    bridge.RaiseIfStopped();
    if (ranOut)
        error = "not enough memory: cannot allocate " +
                (refused != 0 ? SizeText(refused) + " (a block of the library's working memory)"
                              : peak != 0 ? "about " + SizeText(peak) : std::string("what the photo needs")) +
                " for its correction";
    py::dict r;
    r["ok"] = ok;
    r["summary"] = ok ? summary : std::string();
    r["error"] = TextOf(ok ? std::string() : error);
    return r;
}

// Where each input goes in `directory`, by the command's rules; raises
// ValueError for a problem of the whole batch (two inputs landing on one
// file), and gives per input the problem that keeps it from being served.
py::tuple PlanOutputsIn(const std::vector<std::string>& inputs, const std::string& directory, bool overwrite) {
    OutputChoice choice;
    choice.directory = directory;
    choice.overwrite = overwrite;
    OutputPlan plan;
    std::string error;
    if (!PlanOutputs(inputs, choice, plan, error)) RaiseValueError(error);
    // The outputs as the file system spells them (bytes), the problems as
    // text.
    py::list outputs, problems;
    for (const std::string& o : plan.outputs) outputs.append(py::bytes(o));
    for (const std::string& p : plan.problems) problems.append(TextOf(p));
    return py::make_tuple(outputs, problems);
}

// "5.1", as `lumarex --version` prints it.
std::string Version() {
    const uint32_t v = GetLibraryVersion();
    return std::to_string(v >> 24) + "." + std::to_string((v >> 16) & 0xff);
}

}  // namespace

PYBIND11_MODULE(_lumarex, m) {
    m.doc() = "Native part of the lumarex module; use the lumarex package.";
    // All host memory from the process heap, as the command takes it, with
    // the blocks refused noted for the MemoryError.
    g_hostProcs = *LxHeapHostProcs();
    g_hostProcs.allocateProc = AllocateNotingRefusals;
    g_hostRecord = *LxHeapHostRecord();
    g_hostRecord.bufferProcs = &g_hostProcs;
    SetFilterRecord(&g_hostRecord);

    g_cancelled = PyErr_NewException("lumarex.Cancelled", PyExc_Exception, nullptr);
    m.add_object("Cancelled", py::handle(g_cancelled));

    m.def("settings_table", &SettingsTableForPython);
    m.def("check_settings", [](const std::string& command, const py::dict& settings) {
        ParseSettings(CommandNamed(command), settings);
    });
    m.def("auto", &Auto, py::arg("image"), py::arg("profile"), py::arg("out"), py::arg("progress"),
          py::arg("settings"));
    py::class_<Analysis>(m, "Analysis")
        .def(py::init<const py::object&, const py::object&, const py::object&>(), py::arg("image"),
             py::arg("profile"), py::arg("progress"))
        .def_property_readonly("bits", &Analysis::Bits)
        .def_property_readonly("record_json", &Analysis::RecordJson)
        .def_property_readonly("closed", &Analysis::Closed)
        .def("apply", &Analysis::Apply, py::arg("image"), py::arg("region"), py::arg("out"), py::arg("progress"),
             py::arg("settings"))
        .def("close", &Analysis::Close);
    m.def("detect_noise", &DetectNoiseIn, py::arg("image"), py::arg("settings"));
    m.def("read_photo", &ReadPhoto, py::arg("path"), py::arg("name"), py::arg("bits"), py::arg("progress"),
          py::arg("with_profile"));
    m.def("correct_file", &CorrectFileLikeCommand, py::arg("input"), py::arg("output"), py::arg("command"),
          py::arg("quality"), py::arg("max_megapixels"), py::arg("max_memory"), py::arg("progress"),
          py::arg("settings"));
    m.def("check_limits", &CheckLimits, py::arg("max_megapixels"), py::arg("max_memory"));
    m.def("plan_outputs", &PlanOutputsIn, py::arg("inputs"), py::arg("directory"), py::arg("overwrite"));
    m.def("version", &Version);
    m.attr("DEFAULT_MAX_MEGAPIXELS") = kDefaultMaxMegapixels;
}
