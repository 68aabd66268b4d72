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
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analysis_json.h"
#include "batch.h"
#include "correction.h"
#include "image_file.h"
#include "lumarex/analysis_record.h"
#include "lumarex/heap_host.h"
#include "lumarex/lumarex.h"
#include "photo_correction.h"
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

// A keyword's value as the command line would spell it: True/False as
// on/off, numbers as Python writes them ("0.3", "-1"), words as given.
std::string ValueSpelling(const std::string& keyword, const py::handle& v) {
    if (py::isinstance<py::bool_>(v)) return v.cast<bool>() ? "on" : "off";
    if (py::isinstance<py::int_>(v) || py::isinstance<py::float_>(v)) return py::str(v).cast<std::string>();
    if (py::isinstance<py::str>(v)) return v.cast<std::string>();
    throw py::type_error("setting '" + keyword + "' takes a number or a word, got " +
                         py::str(py::type::handle_of(v).attr("__name__")).cast<std::string>());
}

// The defaults of `c` with every keyword of `kwargs` applied. Keywords use
// '_' for the option's '-' ("black_clip" for --black-clip).
Settings ParseSettings(Command c, const py::dict& kwargs) {
    Settings s = DefaultSettings(c);
    for (const auto& [k, v] : kwargs) {
        const std::string keyword = py::str(k).cast<std::string>();
        std::string name = keyword;
        for (char& ch : name)
            if (ch == '_') ch = '-';
        const SettingInfo* info = FindSetting(name);
        if (info == nullptr || !TakenBy(*info, c))
            throw py::value_error("unknown setting '" + keyword + "' for " +
                                  (c == Command::kAuto ? "auto" : "correct"));
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
    std::vector<T> out(size_t(v.shape(0)) * size_t(v.shape(1)) * 3);
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

py::array ArrayOf(const Picture& p) {
    const std::vector<py::ssize_t> shape{p.height, p.width, 3};
    if (p.bits == 16) return py::array_t<uint16_t>(shape, p.rgb16.data());
    return py::array_t<uint8_t>(shape, p.rgb8.data());
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
    explicit ProgressBridge(py::object callback) : callback_(std::move(callback)) {}
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

py::array Auto(const py::object& image, const py::object& out, const py::object& progress, const py::dict& settings) {
    const int bits = CheckImage(image, /*allow16=*/false, "image");
    const auto a = py::reinterpret_borrow<py::array>(image);
    CheckOut(out, false, bits, a.shape(0), a.shape(1));
    const Settings s = ParseSettings(Command::kAuto, settings);
    Picture pic = PictureOf(a, bits);
    ProgressBridge bridge(progress);
    std::string summary, error;
    bool ok;
    {
        py::gil_scoped_release nogil;
        ok = AutoCorrectPicture(s, pic, nullptr, summary, error, bridge.Function());
    }
    bridge.RaiseIfStopped();
    if (!ok) throw std::runtime_error(error);
    return Deliver(pic, out);
}

// The analysed picture, its working copy and its analysis.
class Analysis {
public:
    Analysis(const py::object& image, const py::object& progress) {
        const int bits = CheckImage(image, /*allow16=*/true, "image");
        picture_ = PictureOf(py::reinterpret_borrow<py::array>(image), bits);
        ProgressBridge bridge(progress);
        const FileProgress report = bridge.Function();
        bool ok;
        {
            py::gil_scoped_release nogil;
            const ImageDesc d = DescribeRgb(picture_);
            blob_.reset(AllocImageBlob(&d));
            if (blob_) param_.reset(CalcImageBlobParam(blob_.get(), &OnProgress, const_cast<FileProgress*>(&report)));
            ok = blob_ && param_;
        }
        bridge.RaiseIfStopped();
        if (!ok) {
            PyErr_NoMemory();
            throw py::error_already_set();
        }
        LxAnalysisRecord record{};
        LxReadAnalysisRecord(param_.get(), &record);
        record_ = AnalysisRecordJson(picture_.bits, record);
    }

    int Bits() const { return picture_.bits; }
    const std::string& RecordJson() const { return record_; }

    py::array Apply(const py::object& image, const py::object& region, const py::object& out,
                    const py::object& progress, const py::dict& settings) {
        const std::unique_lock<std::mutex> lock = Lock();
        if (!param_) throw py::value_error("the analysis is closed");
        std::optional<Region> r;
        if (!region.is_none()) r = RegionOf(region);
        if (!image.is_none()) {
            const int bits = CheckImage(image, /*allow16=*/true, "image");
            const auto a = py::reinterpret_borrow<py::array>(image);
            if (bits != picture_.bits || a.shape(0) != picture_.height || a.shape(1) != picture_.width)
                throw py::value_error("image must have the analysed picture's shape and dtype (" +
                                      std::to_string(picture_.height) + "x" + std::to_string(picture_.width) +
                                      "x3, uint" + std::to_string(picture_.bits) + ")");
        }
        CheckOut(out, true, picture_.bits, r ? r->h : picture_.height, r ? r->w : picture_.width);
        const Settings s = ParseSettings(Command::kCorrect, settings);
        // A region of the analysed picture itself copies only the region.
        const bool regionOfOwn = image.is_none() && r.has_value();
        Picture pic = regionOfOwn         ? Picture{}
                      : image.is_none() ? picture_
                                        : PictureOf(py::reinterpret_borrow<py::array>(image), picture_.bits);
        std::string summary, error;
        ProgressBridge bridge(progress);
        bool ok;
        {
            py::gil_scoped_release nogil;
            BlobOwner own;
            const ImageBlob* blob = blob_.get();
            if (!image.is_none()) {
                const ImageDesc d = DescribeRgb(pic);
                own.reset(AllocImageBlob(&d));
                blob = own.get();
            }
            ok = blob != nullptr &&
                 (regionOfOwn ? CorrectAnalysedRegion(s, *r, blob, param_.get(), picture_, pic, summary, error,
                                                      bridge.Function())
                              : CorrectAnalysedPicture(s, r ? &*r : nullptr, blob, param_.get(), pic, summary, error,
                                                       bridge.Function()));
            if (blob == nullptr) error = "not enough memory for the working copy";
        }
        bridge.RaiseIfStopped();
        if (!ok) {
            if (error.rfind("the region", 0) == 0) throw py::value_error(error);
            throw std::runtime_error(error);
        }
        return Deliver(pic, out);
    }

    void Close() {
        const std::unique_lock<std::mutex> lock = Lock();
        param_.reset();
        blob_.reset();
        picture_.rgb8 = {};
        picture_.rgb16 = {};
    }
    bool Closed() const { return !param_; }

private:
    // The lock of the analysis, taken without the GIL: a thread correcting
    // with it takes the GIL back at each step, so one waiting here must not
    // hold it.
    std::unique_lock<std::mutex> Lock() {
        py::gil_scoped_release nogil;
        return std::unique_lock<std::mutex>(mutex_);
    }

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
            throw py::value_error("region must have x, y >= 0 and a width and height of at least 1");
        return Region{int(v[0]), int(v[1]), int(v[2]), int(v[3])};
    }

    std::mutex mutex_;
    Picture picture_;
    BlobOwner blob_;
    ParamOwner param_;
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
    Picture pic = PictureOf(py::reinterpret_borrow<py::array>(image), bits);
    py::gil_scoped_release nogil;
    const ImageDesc d = DescribeRgb(pic);
    // Off (-1) measures as the gentlest preset would.
    return DetectNoise(&d, s.denoise == kNoDenoise ? 0 : s.denoise, s.noiseLevel, -1, 0) == 1;
}

py::array ReadPhoto(const std::string& path, int bits, const py::object& progress) {
    if (bits != 8 && bits != 16) throw py::value_error("bits must be 8 or 16");
    PhotoReader reader;
    Picture pic;
    std::string notes, error;
    ProgressBridge bridge(progress);
    bool ok;
    {
        py::gil_scoped_release nogil;
        ok = reader.Open(path, error) && reader.Read(bits == 16, pic, notes, error, bridge.Function());
    }
    bridge.RaiseIfStopped();
    if (!ok) throw py::value_error(path + ": " + error);
    return ArrayOf(pic);
}

// One file as `lumarex COMMAND INPUT -o OUTPUT` corrects it. Failures of the
// file are reported, not raised: a batch goes on past them.
py::dict CorrectFileLikeCommand(const std::string& input, const std::string& output, const std::string& command,
                                int quality, double maxMegapixels, double maxMemoryGB, const py::object& progress,
                                const py::dict& settings) {
    const Command c = CommandNamed(command);
    const Settings s = ParseSettings(c, settings);
    if (quality < 1 || quality > 100) throw py::value_error("quality must be between 1 and 100");
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
    bool ok;
    {
        py::gil_scoped_release nogil;
        MemoryBudget budget(BudgetBytes(choice.limits));
        ok = CorrectFile(input, output, choice, budget, job, bridge.Function(), summary, error);
    }
    bridge.RaiseIfStopped();
    py::dict r;
    r["ok"] = ok;
    r["summary"] = ok ? summary : std::string();
    r["error"] = ok ? std::string() : error;
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
    if (!PlanOutputs(inputs, choice, plan, error)) throw py::value_error(error);
    return py::make_tuple(plan.outputs, plan.problems);
}

// "5.1", as `lumarex --version` prints it.
std::string Version() {
    const uint32_t v = GetLibraryVersion();
    return std::to_string(v >> 24) + "." + std::to_string((v >> 16) & 0xff);
}

}  // namespace

PYBIND11_MODULE(_lumarex, m) {
    m.doc() = "Native part of the lumarex module; use the lumarex package.";
    // All host memory from the process heap, as the command takes it.
    SetFilterRecord(LxHeapHostRecord());

    g_cancelled = PyErr_NewException("lumarex.Cancelled", PyExc_Exception, nullptr);
    m.add_object("Cancelled", py::handle(g_cancelled));

    m.def("settings_table", &SettingsTableForPython);
    m.def("check_settings", [](const std::string& command, const py::dict& settings) {
        ParseSettings(CommandNamed(command), settings);
    });
    m.def("auto", &Auto, py::arg("image"), py::arg("out"), py::arg("progress"), py::arg("settings"));
    py::class_<Analysis>(m, "Analysis")
        .def(py::init<const py::object&, const py::object&>(), py::arg("image"), py::arg("progress"))
        .def_property_readonly("bits", &Analysis::Bits)
        .def_property_readonly("record_json", &Analysis::RecordJson)
        .def_property_readonly("closed", &Analysis::Closed)
        .def("apply", &Analysis::Apply, py::arg("image"), py::arg("region"), py::arg("out"), py::arg("progress"),
             py::arg("settings"))
        .def("close", &Analysis::Close);
    m.def("detect_noise", &DetectNoiseIn, py::arg("image"), py::arg("settings"));
    m.def("read_photo", &ReadPhoto, py::arg("path"), py::arg("bits"), py::arg("progress"));
    m.def("correct_file", &CorrectFileLikeCommand, py::arg("input"), py::arg("output"), py::arg("command"),
          py::arg("quality"), py::arg("max_megapixels"), py::arg("max_memory"), py::arg("progress"),
          py::arg("settings"));
    m.def("plan_outputs", &PlanOutputsIn, py::arg("inputs"), py::arg("directory"), py::arg("overwrite"));
    m.def("version", &Version);
    m.attr("DEFAULT_MAX_MEGAPIXELS") = kDefaultMaxMegapixels;
}
