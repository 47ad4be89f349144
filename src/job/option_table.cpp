#include "job/option_table.h"

#include <algorithm>
#include <cstdlib>
#include <type_traits>

#include "image/optimize.h"
#include "text/codec.h"

namespace zembrat::job {
namespace {

using Options = ExtensionOptions;

std::vector<OptionDescriptor> MakeTable() {
    std::vector<OptionDescriptor> table = {
        {.field = &Options::https,
         .key = "转存https图片",
         .kind = OptionKind::Flag,
         .switchName = "--https",
         .help = "keep and fetch https:// images; //host/path becomes https:",
         .manual = "Keep and fetch the images whose address starts with `https://`; an address\n"
                   "that starts with `//` is fetched with `https:`.",
         .place = DialogPlace::Left,
         .controlName = "转存https图片",
         .explanationName = "https",
         .caption = "转存 https 图片",
         .explanation =
             "以 https:// 开头的图片也转存，并校验网站证书；以 // 开头的地址补上 https:。"},
        {.field = &Options::lazyImages,
         .key = "识别延迟加载和响应式图片",
         .kind = OptionKind::Flag,
         .switchName = "--lazy",
         .help = "also the images of data-src and its kin, srcset, <picture>",
         .manual = "Also take the images that load late or by screen size: `data-src` and its\n"
                   "kin, `srcset`, and the sources of a `picture`; a lazy image's stored address\n"
                   "also goes into its `src` in place of a placeholder, so it shows without a\n"
                   "script (the placeholder itself is not fetched). Backgrounds in `url(...)`,\n"
                   "`og:image` and `twitter:image`, and a link to the full-size picture around a\n"
                   "thumbnail are taken too. Tags are read as a browser does.",
         .place = DialogPlace::Left,
         .controlName = "延迟加载",
         .caption = "识别延迟加载和响应式图片",
         .explanation =
             "除 src 外，还读取 data-src、data-original 等属性和 srcset 里的每一张候选图片。"},
        {.field = &Options::htmlRules,
         .key = "按网页规则读取标签",
         .kind = OptionKind::Flag,
         .switchName = "--html-rules",
         .help = "read tags as a browser does",
         .manual = "Read the tags as a browser does. Under this option, `--lazy` and `--markdown`\n"
                   "an address is rewritten only where it was read as an image; the same address\n"
                   "in code, a comment or a script stays as written.",
         .place = DialogPlace::Left,
         .controlName = "网页规则",
         .caption = "按网页规则读取标签",
         .explanation = "像浏览器一样读取标签：属性间可有空格和换行，引号里的值整段读取，&amp; "
                        "等按字符下载。"},
        {.field = &Options::checkContent,
         .key = "检查图片内容",
         .kind = OptionKind::Flag,
         .switchName = "--check-content",
         .help = "the body's first bytes decide whether it is an image",
         .manual = "The first bytes of what the server sends decide whether it is an image.",
         .place = DialogPlace::Left,
         .controlName = "检查内容",
         .caption = "检查图片内容",
         .explanation =
             "按下载内容的开头判断是不是图片，不是图片的不保存；扩展名按实际的图片类型。"},
        {.field = &Options::markdown,
         .key = "处理Markdown图片",
         .kind = OptionKind::Flag,
         .switchName = "--markdown",
         .help = "also the images of Markdown articles",
         .manual = "Also take the images of Markdown articles (`*.md`, `*.markdown`): "
                   "`![alt](url)`,\n"
                   "reference images, the `cover`, `image` and `thumbnail` fields of the front\n"
                   "matter, Hugo's `figure` and Hexo's `img`; never inside code blocks or code "
                   "spans.",
         .place = DialogPlace::Left,
         .controlName = "Markdown",
         .caption = "处理 Markdown 图片",
         .explanation = "在 .md 和 .markdown 文章里识别 ![说明](地址) 和引用式图片。"},
        {.field = &Options::timeoutSeconds,
         .key = "下载超时",
         .kind = OptionKind::Number,
         .low = Options::kMinTimeoutSeconds,
         .high = Options::kMaxTimeoutSeconds,
         .off = 0,
         .switchName = "--timeout",
         .valueName = "SECONDS",
         .unit = "seconds",
         .help = "one download's longest time, {low}..{high};\n"
                 "--no-timeout: the usual waits",
         .manual = "The longest time one download may take, from connecting to its last byte:\n"
                   "{low} to {high} seconds.\n"
                   "`--no-timeout` gives the usual waits back.",
         .place = DialogPlace::Right,
         .controlName = "下载超时",
         .caption = "下载超时（秒）：",
         .explanation = "一张图片从连接到收完最多等待的秒数；留空则按原来的等待时间。"},
        {.field = &Options::downloadsAtOnce,
         .key = "同时下载数",
         .kind = OptionKind::Number,
         .low = Options::kMinDownloadsAtOnce,
         .high = Options::kMaxDownloadsAtOnce,
         .switchName = "--jobs",
         .valueName = "N",
         .unit = "downloads at once",
         .help = "downloads at once, {low}..{high} (at most {per-site} from one site,\n"
                 "all on one connection to an https site that speaks HTTP/2);\n"
                 "the articles come out as with one at a time",
         .manual = "Downloads at once, {low} to {high}; never more than {per-site} from one site,\n"
                   "except an https site that speaks HTTP/2, which takes them all as streams of\n"
                   "one connection.\n"
                   "The rows and the rewritten articles are those of a run with one at a time.",
         .place = DialogPlace::Right,
         .controlName = "同时下载数",
         .caption = "同时下载数：",
         .explanation =
             "同时下载几张图片（1 到 64，同一网站最多 8 张；支持 HTTP/2 的 https "
             "网站全部走同一个连接）；1 为一张接一张。文章的转存结果与一张接一张时相同。",
         .hash = HashRole::DoesNotShape},
        {.field = &Options::writeReport,
         .key = "运行后写出报告",
         .kind = OptionKind::Flag,
         .place = DialogPlace::Right,
         .controlName = "写出报告",
         .caption = "运行后写出报告",
         .explanation = "运行结束后写出每个图片引用的处理结果。",
         .hash = HashRole::DoesNotShape},
        {.field = &Options::hotlink,
         .key = "防盗链处理",
         .kind = OptionKind::Flag,
         .switchName = "--hotlink",
         .help = "ask for images as a browser with no Referer, then with the\n"
                 "image's site, then the article's page; ask look-alikes again",
         .manual = "Ask for each image as a current browser that names no referring page; on a\n"
                   "refusal (401, 403, a web page or XML instead of the image, or a suspected\n"
                   "placeholder) ask again naming the image's own site, then the article's page\n"
                   "(its canonical address). The per-site rules of the settings file win over\n"
                   "these. Two addresses of one site that give the same bytes are asked again\n"
                   "with the next identity: an answer that changes with the identity was a\n"
                   "placeholder (one still alike at the last identity fails), a picture that\n"
                   "stays the same at every identity is stored.",
         .place = DialogPlace::Right,
         .controlName = "防盗链处理",
         .caption = "防盗链处理",
         .explanation = "先以浏览器身份、不带来源页请求图片；被拒绝（401、403、网页）或收到占位图"
                        "时，再以图片所在网站、文章页面为来源页重试。同一网站不同地址得到相同内容"
                        "的换下一种方式再请求，随之改变的才是占位图，不保存。"},
        {.field = &Options::recursive,
         .key = "包含子目录",
         .kind = OptionKind::Flag,
         .switchName = "--recursive",
         .help = "also the articles of the subfolders; each result keeps its\n"
                 "path below the result folder",
         .manual = "Also take the articles of the article folder's subfolders, each folder's own\n"
                   "files first, then its subfolders in name order; hidden folders, links to\n"
                   "folders and the result folder are left out. Each result keeps the article's\n"
                   "path below the result folder (`sub/a.htm` becomes _result_`/sub/a.htm`); the\n"
                   "image folder stays one for the whole tree. The report, the dry run and the\n"
                   "progress lines name the articles by that path.",
         .place = DialogPlace::Left,
         .controlName = "包含子目录",
         .caption = "包含子目录",
         .explanation = "也处理子目录里的文章（隐藏目录、目录链接和结果目录除外），结果按原来的子目"
                        "录存放；图片仍存放在同一个图片目录。"},
        {.field = &Options::outputFolder,
         .key = "结果目录",
         .kind = OptionKind::Folder,
         .switchName = "--output",
         .valueName = "DIR",
         .help = "write the results into DIR instead of FOLDER/转存结果/\n"
                 "(relative: from the current folder)",
         .manual = "Write the results (articles and image folder) into _DIR_ instead of\n"
                   "`转存结果/` inside the article folder; a relative _DIR_ is taken from the\n"
                   "current folder. It must not be a link. `--no-output` gives the usual\n"
                   "result folder back. In the settings file the folder must be absolute.",
         .place = DialogPlace::Left,
         .controlName = "结果目录",
         .caption = "结果目录：",
         .explanation = "转存结果写到这个目录（须是绝对路径，不能是链接）；留空则写到文章目录下的"
                        "“转存结果”目录。"},
        {.field = &Options::incremental,
         .key = "增量运行",
         .kind = OptionKind::Flag,
         .switchName = "--incremental",
         .help = "do only what is new: skip the articles the run record finds\n"
                 "unchanged, download no image stored before",
         .manual =
             "Do only what is new since the runs before, as the run record of the result\n"
             "folder (`.zembrat-record.sqlite`, kept under this option) tells it: an image whose\n"
             "stored file is still there as it was stored is not downloaded again (its row\n"
             "says `reused`, reason `stored before`), an address met earlier in the run is\n"
             "downloaded once, and an article whose bytes, settings and options are unchanged\n"
             "and whose result is still there as written (its images with the modification\n"
             "time and inode recorded, or else read again) is skipped. A record that cannot be\n"
             "written fails the run. A run stopped or killed goes on where it ended.",
         .place = DialogPlace::Right,
         .controlName = "增量运行",
         .caption = "增量运行",
         .explanation = "按结果目录里的运行记录只处理新的内容：已转存且文件未变的图片不再下载，"
                        "内容、设置都没变且结果还在的文章跳过。",
         .hash = HashRole::DoesNotShape},
        {.field = &Options::optimizeImages,
         .key = "图片优化",
         .kind = OptionKind::Choice,
         .choices = {{"", "不优化"}, {"webp", "WebP"}, {"avif", "AVIF"}},
         .switchName = "--optimize",
         .valueName = "FORMAT",
         .help = "store each image as FORMAT (webp or avif) when that makes it\n"
                 "at least a tenth lighter; --no-optimize: as fetched",
         .manual = "Store each JPEG, PNG, GIF, WebP, AVIF or BMP image as _FORMAT_ (`webp` or\n"
                   "`avif`) when that makes it at least a tenth lighter, else as it came. An\n"
                   "animated image becomes an animated WebP; screenshots and drawings (few\n"
                   "colours) are encoded losslessly, photographs lossily; transparency and the\n"
                   "colour profile are kept, and the EXIF orientation is applied. An image\n"
                   "already in WebP or AVIF is encoded again only to shrink it. SVG, ICO and\n"
                   "anything else are stored as they came. The same image with the same options\n"
                   "is stored as the same bytes on every run. `--no-optimize` stores the images\n"
                   "as fetched.",
         .place = DialogPlace::Right,
         .controlName = "图片优化",
         .caption = "图片优化：",
         .explanation = "把图片转成 WebP 或 AVIF 保存（至少小十分之一时才用）；动图转成 WebP "
                        "动图，截图和线条图无损，照片有损；保留透明和颜色配置。",
         .hash = HashRole::ShapesWhenSet},
        {.field = &Options::imageQuality,
         .key = "图片质量",
         .kind = OptionKind::Number,
         .low = image::Options::kMinQuality,
         .high = image::Options::kMaxQuality,
         .off = 0,
         .switchName = "--quality",
         .valueName = "Q",
         .unit = "quality",
         .help = "the optimised images' quality, {low}..{high};\n"
                 "--no-quality: 75 for WebP, 60 for AVIF",
         .manual = "The quality of the images `--optimize` encodes lossily, {low} to {high}.\n"
                   "`--no-quality` gives each format its own: 75 for WebP, 60 for AVIF.",
         .place = DialogPlace::Right,
         .controlName = "图片质量",
         .caption = "图片质量：",
         .explanation = "有损压缩的质量（1 到 100）；留空则 WebP 为 75，AVIF 为 60。",
         .hash = HashRole::ShapesWhenSet},
        {.field = &Options::maxImageWidth,
         .key = "最大宽度",
         .kind = OptionKind::Number,
         .low = 1,
         .high = image::Options::kLargestMaxWidth,
         .off = 0,
         .switchName = "--max-width",
         .valueName = "PX",
         .unit = "pixels",
         .help = "optimised images wider than PX ({low}..{high}) are shrunk to it,\n"
                 "never enlarged; --no-max-width: no bound",
         .manual = "With `--optimize`, an image wider than _PX_ pixels ({low} to {high}) is\n"
                   "shrunk to that width, its proportions kept; a narrower one is never\n"
                   "enlarged. `--no-max-width` removes the bound.",
         .place = DialogPlace::Right,
         .controlName = "最大宽度",
         .caption = "最大宽度（像素）：",
         .explanation = "优化时比这更宽的图片按比例缩小到这个宽度，窄的不放大；留空则不限。",
         .hash = HashRole::ShapesWhenSet},
        {.field = &Options::stripMetadata,
         .key = "去除照片信息",
         .kind = OptionKind::Flag,
         .switchName = "--strip-metadata",
         .help = "remove EXIF (with the GPS position), XMP, IPTC and comments\n"
                 "from the stored images, turning them upright first",
         .manual = "Remove the photo information from the stored images: EXIF with its GPS\n"
                   "position, XMP, IPTC and comments. An image that its EXIF orientation turns is\n"
                   "turned upright first. JPEG, PNG, WebP and GIF files lose only those parts,\n"
                   "their pixels untouched, unless they must be turned. Also without\n"
                   "`--optimize`.",
         .place = DialogPlace::Right,
         .controlName = "去除照片信息",
         .caption = "去除照片信息",
         .explanation = "去掉图片里的 EXIF（含 GPS 位置）、XMP、IPTC 和注释；需要旋转的照片先"
                        "转正。",
         .hash = HashRole::ShapesWhenSet},
        // The publish dialog edits these three; --publish [TARGET] stands for the first and last.
        {.field = &Options::publishAfterRun,
         .key = "运行后发布",
         .kind = OptionKind::Flag,
         .hash = HashRole::DoesNotShape},
        {.field = &Options::publishArticles,
         .key = "同时发布文章",
         .kind = OptionKind::Flag,
         .switchName = "--publish-articles",
         .group = SwitchGroup::Publish,
         .help = "publish the written articles too",
         .manual = "Publish the written articles too, each at its path below the result folder.",
         .hash = HashRole::DoesNotShape},
        {.field = &Options::publishTarget,
         .key = "使用的发布目标",
         .kind = OptionKind::Text,
         .hash = HashRole::DoesNotShape},
        {.field = &Options::publishUploads,
         .key = "同时上传数",
         .kind = OptionKind::Number,
         .low = Options::kMinUploadsAtOnce,
         .high = Options::kMaxUploadsAtOnce,
         .switchName = "--uploads",
         .valueName = "N",
         .unit = "uploads at once",
         .group = SwitchGroup::Publish,
         .help = "uploads at once, {low}..{high} (4 unless set; a target's\n"
                 "uploads= comes first); also the copies --verify fetches at once",
         .manual =
             "Uploads at once, {low} to {high}, each over its own connection (4 unless set).\n"
             "A target's own `uploads=` comes first. `--verify` fetches as many copies at\n"
             "once.",
         .hash = HashRole::NotHashed},
    };
    for (OptionDescriptor& d : table) d.gbkKey = text::GbkFromUtf8(d.key);
    return table;
}

const std::vector<OptionDescriptor>& Table() {
    static const std::vector<OptionDescriptor> table = MakeTable();
    return table;
}

// A whole text of ASCII digits with a value of at most nine digits; nullopt otherwise.
std::optional<int> Decimal(std::string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

bool OptionDescriptor::Accepts(std::string_view text) const {
    switch (kind) {
        case OptionKind::Flag:
            return text == "1" || text == "0";
        case OptionKind::Number: {
            const std::optional<int> value = Decimal(text);
            return value && ((*value >= low && *value <= high) || value == off);
        }
        case OptionKind::Text:
        case OptionKind::Folder:
            return true;
        case OptionKind::Choice:
            return std::any_of(choices.begin(), choices.end(),
                               [&](const OptionChoice& c) { return text == c.value; });
    }
    return false;
}

bool OptionDescriptor::HasNoForm() const {
    return kind != OptionKind::Number || off.has_value();
}

std::string OptionDescriptor::Text(const ExtensionOptions& options) const {
    return std::visit(
        [&](auto member) -> std::string {
            const auto& value = options.*member;
            using Value = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Value, bool>)
                return value ? "1" : "0";
            else if constexpr (std::is_same_v<Value, int>)
                return std::to_string(value);
            else
                return value;
        },
        field);
}

void OptionDescriptor::Set(ExtensionOptions& options, std::string_view text) const {
    static const ExtensionOptions defaults;
    const bool accepted = Accepts(text);
    std::visit(
        [&](auto member) {
            auto& value = options.*member;
            using Value = std::decay_t<decltype(value)>;
            if (!accepted)
                value = defaults.*member;
            else if constexpr (std::is_same_v<Value, bool>)
                value = text == "1";
            else if constexpr (std::is_same_v<Value, int>)
                value = *Decimal(text);
            else
                value = std::string(text);
        },
        field);
}

bool OptionDescriptor::IsDefault(const ExtensionOptions& options) const {
    static const ExtensionOptions defaults;
    return Text(options) == Text(defaults);
}

std::span<const OptionDescriptor> OptionTable() {
    return Table();
}

const OptionDescriptor& Descriptor(OptionDescriptor::Field field) {
    for (const OptionDescriptor& d : Table()) {
        if (d.field == field) return d;
    }
    // Every field a user sets is in the table; the table's test holds it to that.
    std::abort();
}

const OptionDescriptor* DescriptorOfKey(std::string_view key) {
    for (const OptionDescriptor& d : Table()) {
        if (d.Key() == key) return &d;
    }
    return nullptr;
}

OptionTexts ExtensionOptionTexts(const ExtensionOptions& options) {
    OptionTexts texts;
    for (const OptionDescriptor& d : Table()) texts.emplace_back(d.Key(), d.Text(options));
    return texts;
}

OptionTexts ChangedExtensionOptionTexts(const ExtensionOptions& options) {
    OptionTexts changed;
    for (const OptionDescriptor& d : Table()) {
        if (!d.IsDefault(options)) changed.emplace_back(d.Key(), d.Text(options));
    }
    return changed;
}

void ApplyOptionTexts(const OptionTexts& texts, ExtensionOptions& options) {
    for (const auto& [key, value] : texts) {
        if (const OptionDescriptor* d = DescriptorOfKey(key)) d->Set(options, value);
    }
}

ExtensionOptions ExtensionOptionsFromTexts(const OptionTexts& texts) {
    ExtensionOptions options;
    ApplyOptionTexts(texts, options);
    return options;
}

std::string OptionsHashText(const ExtensionOptions& options) {
    static const ExtensionOptions defaults;
    std::string all;
    for (const OptionDescriptor& d : Table()) {
        switch (d.hash) {
            case HashRole::Shapes:
                all += d.Key() + "=" + d.Text(options) + "\n";
                break;
            case HashRole::DoesNotShape:
                all += d.Key() + "=" + d.Text(defaults) + "\n";
                break;
            case HashRole::ShapesWhenSet:
                if (!d.IsDefault(options)) all += d.Key() + "=" + d.Text(options) + "\n";
                break;
            case HashRole::NotHashed:
                break;
        }
    }
    return all;
}

}  // namespace zembrat::job
