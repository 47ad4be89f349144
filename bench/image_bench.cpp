// Image optimisation over a corpus of real images, beside the reference encoders on the same
// files in the same run:
// - the corpus: photographs from Debian's desktop background packages (mate-backgrounds,
//   gnome-backgrounds, desktop-base), each at several sizes and crops as JPEG; screenshots and
//   photographs from the GIMP manual's figures (gimp-help-en); generated PNGs with alpha and
//   animated GIFs. Built once under /dev/shm; bench/image_bench_setup.sh installs the packages.
// - WebP at the defaults: the median stored size against the original, and the mean SSIM of the
//   stored image against the original, on the luma at the stored size;
// - CPU time per image (the encoders are single-threaded, so this is speed per core) against
//   `cwebp -q 75` and `avifenc` at the speed and quantizer libvips' AVIF encode uses, on the
//   files those read (JPEG, PNG), and against `gif2webp` on the GIFs; the slowest beside the
//   median;
// - the resident memory along the corpus, and the peak of one 50-megapixel photograph in a
//   process of its own against the same process only reading it.
//
//     image_bench [--only-large] [corpus folder]   (default /dev/shm/zembrat-image-corpus)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>
#include <vips/vips8>

#include "image/optimize.h"
#include "job/content_type.h"
#include "job/image_optimization.h"
#include "support/raw_server.h"

namespace {
using namespace zembrat;
namespace fs = std::filesystem;
using vips::VImage;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

double ResidentMiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

struct ChildUsage {
    bool ok = false;
    double cpu = 0;      // user + system seconds
    double peakMiB = 0;  // the child's maximum resident set
};

ChildUsage RunChild(std::vector<std::string> args) {
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr))
            _exit(126);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    ChildUsage result;
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return result;
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    result.cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                 usage.ru_stime.tv_usec / 1e6;
    result.peakMiB = usage.ru_maxrss / 1024.0;
    return result;
}

void Save(const VImage& image, const fs::path& path, const char* options = "") {
    image.write_to_file((path.string() + options).c_str());
}

// At most count of the paths, spread evenly over them.
std::vector<fs::path> Spread(const std::vector<fs::path>& paths, std::size_t count) {
    if (paths.size() <= count) return paths;
    std::vector<fs::path> some;
    for (std::size_t i = 0; i < count; ++i) some.push_back(paths[i * paths.size() / count]);
    return some;
}

// The photographs of the background packages, and some of the GIMP manual's filter examples.
std::vector<fs::path> Photographs() {
    std::vector<fs::path> all;
    const std::pair<const char*, std::size_t> roots[] = {
        {"/usr/share/backgrounds", 40},
        {"/usr/share/desktop-base", 10},
        {"/usr/share/gimp/2.0/help/en/images/filters/examples", 16}};
    for (const auto& [root, count] : roots) {
        if (!fs::is_directory(root)) continue;
        std::vector<fs::path> found;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            const std::string ext = entry.path().extension().string();
            if (entry.is_regular_file() && (ext == ".jpg" || ext == ".webp" || ext == ".png") &&
                entry.file_size() > 60000)
                found.push_back(entry.path());
        }
        std::sort(found.begin(), found.end());
        for (const fs::path& p : Spread(found, count)) all.push_back(p);
    }
    return all;
}

// Screenshots of dialogs and menus from the GIMP manual.
std::vector<fs::path> Screenshots() {
    std::vector<fs::path> found;
    for (const char* root : {"/usr/share/gimp/2.0/help/en/images/dialogs",
                             "/usr/share/gimp/2.0/help/en/images/menus"}) {
        if (!fs::is_directory(root)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            if (entry.is_regular_file() && entry.path().extension() == ".png" &&
                entry.file_size() > 15000)
                found.push_back(entry.path());
        }
    }
    std::sort(found.begin(), found.end());
    return Spread(found, 60);
}

VImage Srgb(const VImage& image) {
    VImage out = image;
    if (out.bands() > 4) out = out.extract_band(0, VImage::option()->set("n", 4));
    return out.colourspace(VIPS_INTERPRETATION_sRGB);
}

// An animated GIF of frames crops sliding over the photograph, 80 ms apart.
VImage Animation(const VImage& photo, int width, int height, int frames) {
    const VImage small = photo.thumbnail_image(
        width * 2,
        VImage::option()->set("height", height * 2)->set("crop", VIPS_INTERESTING_CENTRE));
    VImage strip;
    for (int i = 0; i < frames; ++i) {
        const int x = (small.width() - width) * i / std::max(1, frames - 1);
        const VImage frame = small.extract_area(x, (small.height() - height) / 2, width, height);
        strip = i == 0 ? frame : strip.join(frame, VIPS_DIRECTION_VERTICAL);
    }
    strip = strip.copy();
    strip.set("page-height", height);
    strip.set("delay", std::vector<int>(static_cast<std::size_t>(frames), 80));
    strip.set("loop", 0);
    return strip;
}

// A drawing with soft-edged transparency over a gradient, as a logo or diagram exported with
// alpha.
VImage AlphaDrawing(int width, int height, int seed) {
    const VImage x = VImage::xyz(width, height)[0];
    const VImage y = VImage::xyz(width, height)[1];
    const double cx = width * (0.3 + 0.05 * (seed % 5)), cy = height * 0.5;
    const VImage distance = ((x - cx) * (x - cx) + (y - cy) * (y - cy)).pow(0.5);
    const VImage alpha = (255 - (distance - height * 0.35) * 8).cast(VIPS_FORMAT_UCHAR);
    const VImage r = x * (255.0 / width);
    const VImage g = y * (255.0 / height);
    const VImage b = VImage::black(width, height) + (seed * 37) % 256;
    return r.bandjoin(g)
        .bandjoin(b)
        .bandjoin(alpha)
        .cast(VIPS_FORMAT_UCHAR)
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

// The corpus under folder, made once: photo-*.jpg, shot-*.png, alpha-*.png, anim-*.gif.
std::size_t BuildCorpus(const fs::path& folder) {
    fs::create_directories(folder);
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder)) ++count;
    if (count >= 200) return count;
    int n = 0;
    auto name = [&n](const char* prefix, const char* ext) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%s-%03d.%s", prefix, n++, ext);
        return std::string(buffer);
    };
    const std::vector<fs::path> photos = Photographs();
    for (const fs::path& path : photos) {
        const VImage photo = Srgb(VImage::new_from_file(path.c_str()));
        const VImage flat = photo.has_alpha() ? photo.flatten() : photo;
        // As a site would serve it: at its size, and shrunk and cut for an article column.
        for (const int width : {1920, 1280, 800, 480}) {
            if (width > flat.width()) continue;
            const VImage sized = width == flat.width() ? flat : flat.thumbnail_image(width);
            Save(sized, folder / name("photo", "jpg"), "[Q=88,strip]");
        }
        if (flat.width() >= 1200 && flat.height() >= 900)
            Save(flat.extract_area((flat.width() - 1024) / 3, (flat.height() - 768) / 4, 1024, 768),
                 folder / name("photo", "jpg"), "[Q=92,strip]");
    }
    for (const fs::path& path : Screenshots()) {
        fs::copy_file(path, folder / name("shot", "png"), fs::copy_options::overwrite_existing);
    }
    for (int i = 0; i < 20; ++i) {
        Save(AlphaDrawing(320 + 40 * i, 240 + 20 * i, i), folder / name("alpha", "png"));
    }
    for (int i = 0; i < 20 && !photos.empty(); ++i) {
        const VImage photo = Srgb(VImage::new_from_file(photos[i % photos.size()].c_str()));
        const VImage flat = photo.has_alpha() ? photo.flatten() : photo;
        Save(Animation(flat, 160 + 20 * (i % 6), 120 + 10 * (i % 5), 4 + i % 9),
             folder / name("anim", "gif"));
    }
    count = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder)) ++count;
    return count;
}

// The luma of an image as a viewer shows it: every frame, transparency over white.
VImage Luma(const VImage& image) {
    VImage rgb = Srgb(image);
    if (rgb.has_alpha()) rgb = rgb.flatten(VImage::option()->set("background", 255.0));
    return rgb.colourspace(VIPS_INTERPRETATION_B_W).cast(VIPS_FORMAT_FLOAT);
}

// The structural similarity of two luma images of one size: Gaussian windows of sigma 1.5, the
// usual constants for 8-bit values, the mean over the image.
double Ssim(const VImage& a, const VImage& b) {
    const double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);
    auto blur = [](const VImage& x) {
        return x.gaussblur(1.5, VImage::option()->set("precision", VIPS_PRECISION_FLOAT));
    };
    const VImage ma = blur(a), mb = blur(b);
    const VImage saa = blur(a * a) - ma * ma, sbb = blur(b * b) - mb * mb;
    const VImage sab = blur(a * b) - ma * mb;
    const VImage map =
        ((ma * mb * 2 + c1) * (sab * 2 + c2)) / ((ma * ma + mb * mb + c1) * (saa + sbb + c2));
    return map.avg();
}

VImage DecodeAll(const std::string& bytes) {
    return VImage::new_from_buffer(bytes.data(), bytes.size(), "", VImage::option()->set("n", -1))
        .copy_memory();
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

struct Entry {
    fs::path path;
    std::string bytes;
    image::Kind kind;
};

// The peak resident memory of this process, in MiB.
double PeakMiB() {
    return static_cast<double>(zembrat::testing::PeakResidentKb()) / 1024.0;
}

// One optimisation in a process of its own, its peak memory written to peakFile (the peak of
// the process, as the kernel's count of a child carries its parent's from before the exec):
// --one FILE PEAKFILE [--read-only].
int OptimiseOne(const char* file, const char* peakFile, bool readOnly) {
    const std::string bytes = ReadFile(file);
    bool ok = !bytes.empty();
    if (!readOnly) {
        image::Options options;
        options.optimize = image::Target::WebP;
        const image::Stored stored =
            image::Optimize(bytes, job::ImageKind(job::DetectImageType(bytes)), options);
        ok = ok && stored.kind == image::Kind::WebP;
    }
    std::ofstream(peakFile) << PeakMiB();
    return ok ? 0 : 1;
}

// The 50-megapixel photograph in a process of its own, against the same process only reading it.
void LargeImage(const fs::path& large) {
    const std::string self = fs::canonical("/proc/self/exe").string();
    const std::string peakFile = large.string() + ".peak";
    auto peak = [&peakFile] {
        std::ifstream in(peakFile);
        double value = -1;
        in >> value;
        return value;
    };
    const ChildUsage read = RunChild({self, "--one", large.string(), peakFile, "--read-only"});
    const double readPeak = peak();
    const ChildUsage one = RunChild({self, "--one", large.string(), peakFile});
    const double onePeak = peak();
    std::printf(
        "\n50-megapixel JPEG (%.1f MB) to WebP: peak %.0f MiB (target <= 400) %s; only "
        "reading it: %.0f MiB; %.2f s CPU\n",
        fs::file_size(large) / 1e6, onePeak, one.ok && read.ok && onePeak <= 400 ? "ok" : "MISSED",
        readPeak, one.cpu);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::string(argv[1]) == "--one")
        return OptimiseOne(argv[2], argv[3], argc >= 5 && std::string(argv[4]) == "--read-only");
    const bool onlyLarge = argc >= 2 && std::string(argv[1]) == "--only-large";
    if (onlyLarge) --argc, ++argv;
    if (vips_init(argv[0]) != 0) return 1;
    const fs::path folder =
        argc >= 2 ? fs::path(argv[1]) : fs::path("/dev/shm/zembrat-image-corpus");
    std::printf("Machine: %ld cores; corpus in %s\n", sysconf(_SC_NPROCESSORS_ONLN),
                folder.c_str());
    const std::size_t files = BuildCorpus(folder);
    // The 50-megapixel photograph: the largest background photo enlarged to 8660 x 5774.
    const fs::path large = folder.parent_path() / "zembrat-image-50mp.jpg";
    if (!fs::exists(large)) {
        const std::vector<fs::path> photos = Photographs();
        fs::path biggest;
        std::uintmax_t size = 0;
        for (const fs::path& p : photos)
            if (p.extension() == ".jpg" && fs::file_size(p) > size)
                size = fs::file_size(p), biggest = p;
        const VImage photo = VImage::new_from_file(biggest.c_str());
        Save(photo.resize(8660.0 / photo.width(),
                          VImage::option()->set("vscale", 5774.0 / photo.height())),
             large, "[Q=90,strip]");
    }

    if (onlyLarge) {
        LargeImage(large);
        return 0;
    }

    std::vector<Entry> corpus;
    for (const auto& e : fs::directory_iterator(folder)) {
        std::string bytes = ReadFile(e.path());
        const image::Kind kind = job::ImageKind(job::DetectImageType(bytes));
        corpus.push_back({e.path(), std::move(bytes), kind});
    }
    std::sort(corpus.begin(), corpus.end(),
              [](const Entry& a, const Entry& b) { return a.path < b.path; });
    std::size_t photos = 0, shots = 0, alpha = 0, animations = 0;
    for (const Entry& e : corpus) {
        const std::string n = e.path.filename().string();
        photos += n.rfind("photo", 0) == 0;
        shots += n.rfind("shot", 0) == 0;
        alpha += n.rfind("alpha", 0) == 0;
        animations += n.rfind("anim", 0) == 0;
    }
    std::printf(
        "Corpus: %zu images (%zu photographs, %zu screenshots, %zu PNGs with alpha, %zu "
        "animated GIFs)\n",
        files, photos, shots, alpha, animations);

    // WebP at the defaults: size, similarity, time, memory along the way.
    image::Options webp;
    webp.optimize = image::Target::WebP;
    std::vector<double> ratios, ssims, times;
    double ourStillCpu = 0, ourGifCpu = 0, residentFirst = 0, residentMax = 0;
    std::size_t kept = 0;
    std::string slowest;
    double slowestTime = 0;
    for (std::size_t i = 0; i < corpus.size(); ++i) {
        const Entry& e = corpus[i];
        const double start = CpuSeconds();
        const image::Stored stored = image::Optimize(e.bytes, e.kind, webp);
        const double cpu = CpuSeconds() - start;
        times.push_back(cpu);
        (e.kind == image::Kind::Gif ? ourGifCpu : ourStillCpu) += cpu;
        if (cpu > slowestTime) slowestTime = cpu, slowest = e.path.filename().string();
        ratios.push_back(static_cast<double>(stored.bytes.size()) / e.bytes.size());
        if (stored.kind == e.kind) {
            ++kept;
            ssims.push_back(1.0);
        } else {
            const VImage before = DecodeAll(e.bytes), after = DecodeAll(stored.bytes);
            VImage reference = Luma(before);
            if (reference.width() != after.width() || reference.height() != after.height())
                reference = reference.resize(static_cast<double>(after.width()) / before.width());
            ssims.push_back(Ssim(reference, Luma(after)));
        }
        const double resident = ResidentMiB();
        if (i == corpus.size() / 10) residentFirst = resident;
        residentMax = std::max(residentMax, resident);
    }
    const double meanSsim = std::accumulate(ssims.begin(), ssims.end(), 0.0) / ssims.size();
    const double medianRatio = Median(ratios);
    std::printf("\nWebP at the defaults (quality %d):\n",
                image::QualityFor(webp, image::Target::WebP));
    std::printf("  median stored size / original: %.3f   (target <= 0.6) %s\n", medianRatio,
                medianRatio <= 0.6 ? "ok" : "MISSED");
    std::printf("  mean SSIM on luma:             %.4f  (target >= 0.95) %s\n", meanSsim,
                meanSsim >= 0.95 ? "ok" : "MISSED");
    std::printf("  kept as they came (not a tenth smaller): %zu of %zu\n", kept, corpus.size());
    std::printf("  CPU per image: median %.1f ms, slowest %.1f ms (%s)\n", Median(times) * 1e3,
                slowestTime * 1e3, slowest.c_str());
    // Flat memory: the same corpus again leaves the process no larger than the first pass did
    // (the corpus itself is held in memory throughout).
    const double afterFirst = ResidentMiB();
    for (const Entry& e : corpus) (void)image::Optimize(e.bytes, e.kind, webp);
    const double afterSecond = ResidentMiB();
    std::printf(
        "  resident memory: %.0f MiB after a tenth of the corpus, at most %.0f MiB; "
        "%.0f MiB after the corpus, %.0f MiB after it once more\n",
        residentFirst, residentMax, afterFirst, afterSecond);

    // The reference encoders on the same files, one process each; and the AVIF target.
    const fs::path out = folder.parent_path() / "zembrat-image-bench-out";
    double cwebpCpu = 0, avifencCpu = 0, gif2webpCpu = 0, ourAvifCpu = 0;
    std::size_t failures = 0;
    const int avifQuality = image::QualityFor(image::Options{}, image::Target::Avif);
    // libheif's AV1 encode under libvips: speed 9 - effort (effort 4), and the quantizer of
    // the quality.
    const std::string cqLevel = "cq-level=" + std::to_string(((100 - avifQuality) * 63 + 50) / 100);
    image::Options avif;
    avif.optimize = image::Target::Avif;
    std::size_t avifFiles = 0, still = 0;
    for (const Entry& e : corpus) {
        const std::string in = e.path.string();
        if (e.kind == image::Kind::Gif) {
            const ChildUsage g =
                RunChild({"gif2webp", "-q", "75", "-quiet", in, "-o", out.string() + ".webp"});
            failures += !g.ok;
            gif2webpCpu += g.cpu;
            continue;
        }
        const ChildUsage c =
            RunChild({"cwebp", "-q", "75", "-quiet", in, "-o", out.string() + ".webp"});
        failures += !c.ok;
        cwebpCpu += c.cpu;
        // AVIF encodes are slow: every third still image.
        if (still++ % 3 != 0) continue;
        ++avifFiles;
        const ChildUsage a =
            RunChild({"avifenc", "-s", "5", "-j", "1", "-y", "420", "--min", "0", "--max", "63",
                      "-a", "end-usage=q", "-a", cqLevel, in, out.string() + ".avif"});
        failures += !a.ok;
        avifencCpu += a.cpu;
        const double start = CpuSeconds();
        (void)image::Optimize(e.bytes, e.kind, avif);
        ourAvifCpu += CpuSeconds() - start;
    }
    std::printf("\nSpeed per core (CPU seconds over the same files; encoders single-threaded):\n");
    std::printf(
        "  WebP, JPEG and PNG: ours %.2f s, cwebp -q 75 %.2f s: %.2f of cwebp's speed "
        "(target >= 0.9) %s\n",
        ourStillCpu, cwebpCpu, cwebpCpu / ourStillCpu,
        cwebpCpu / ourStillCpu >= 0.9 ? "ok" : "MISSED");
    std::printf(
        "  AVIF, %zu of the JPEG and PNG: ours %.2f s, avifenc -s 5 %.2f s: %.2f of avifenc's "
        "speed (target >= 0.9) %s\n",
        avifFiles, ourAvifCpu, avifencCpu, avifencCpu / ourAvifCpu,
        avifencCpu / ourAvifCpu >= 0.9 ? "ok" : "MISSED");
    std::printf("  animated GIFs to WebP: ours %.2f s, gif2webp -q 75 %.2f s: %.2f\n", ourGifCpu,
                gif2webpCpu, gif2webpCpu / std::max(ourGifCpu, 1e-9));
    if (failures) std::printf("  (%zu reference encodes failed)\n", failures);

    LargeImage(large);
    return 0;
}
