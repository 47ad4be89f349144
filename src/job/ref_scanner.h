// Finding the source values of an article's images under the extension options: pure
// functions over the article's bytes. They find; keeping, completing and excluding is decided in
// job/references.h.
//
// How tags are read:
// - The plain rule (every option off) gives exactly the source values of ImageTagPattern():
//   "<img " then, on the same line, the first "src=" that is followed by an optional quote and
//   a value of characters other than quotes, "<", ">" and space, with a ">" after it on the
//   value's last line. Letter case is ignored; a match may run over several tags.
// - Lazy and responsive images add, in "<img " tags, the values of src, data-src,
//   data-original, data-lazy-src, data-actualsrc, srcset and data-srcset, and in "<source "
//   tags between "<picture" and "</picture>" the srcset, to what the plain rule finds, so the
//   option only ever adds references. Such a tag runs from its name (followed by a space) to
//   the first ">", over line breaks too; an attribute is "name=" right after a space, tab or
//   quote, with no space around "=", and its value is read as the plain rule reads it (so the
//   src of a tag that the plain rule misses because of a line break is found here). A quoted
//   srcset is read whole up to its closing quote (its candidates are separated by spaces and
//   commas); each candidate's address is a source of its own, its descriptor ("2x", "640w") is
//   not part of it and stays in the article as it is.
// - Lazy images made visible: an <img> with a lazy source (its first data-src, data-original,
//   data-lazy-src or data-actualsrc) whose src is a placeholder (empty, a data: URI,
//   about:blank, or a tiny picture such as loading.gif, lazy.gif, grey.gif, blank.gif,
//   pixel.gif, spacer.gif, 1x1.png) gets the lazy source text written into that src; one with
//   no src gets src="..." after its name. The src value runs to its closing quote. A real
//   picture in src is left alone.
// - The lazy option also reads the other places an image lives: url(...) in style attributes
//   and <style> blocks (quoted with ", ', &quot; or &#39;, or bare), the content of
//   <meta property="og:image"> and <meta name="twitter:image">, and the href of an <a> whose
//   address ends in a picture extension (jpg, jpeg, png, gif, webp, bmp, svg, avif) when an
//   <img> begins before the next </a>. These tags are read as a browser reads them.
// - HTML rules read every tag as a browser does: any white space (space, tab, line feed,
//   carriage return, form feed) after the tag name, between attributes and around "=",
//   attribute names in any letter case and matched whole (data-src is not src), quoted values
//   read whole up to the matching quote, spaces and ">" included, unquoted values up to white
//   space or ">". The source text is the value without leading and trailing white space; the
//   address fetched has its character references decoded (&amp; is fetched as &) and inner
//   spaces written as %20, as a browser asks for it. Under these rules the src values also come
//   from this reading (the plain rule is not used), and only the first of two attributes of the
//   same name counts, as in a browser.
// - Markdown articles: ![alt](url), ![alt](url "title") (or 'title', (title)), ![alt](<url>),
//   and ![alt][id] / ![alt][] with the definition "[id]: url" (labels compared without regard
//   to ASCII letter case and runs of white space; the first definition of a label counts; only
//   definitions an image uses are sources). Backslash escapes and character references are
//   decoded in the fetched address, as a Markdown renderer does. Raw <img> tags in the article
//   are read under the other options as in any article. Also read: the cover:, image: and
//   thumbnail: fields of a YAML ("---") or TOML ("+++") front matter at the very top, Hugo's
//   {{< figure src="..." >}} (and {{% figure %}}), and Hexo's {% img [class] url [w h] [title] %}
//   (the url is the first word that begins with "/" or holds "://"). Nothing of these is read
//   inside fenced code blocks (a line of three or more ` or ~, closed by a line of the same
//   character at least as long, or the article's end) or code spans (a run of backticks up to
//   the next run of the same length, not past a blank line). A destination holds at most 32 levels
//   of parentheses, and a title in parentheses no "(" (as in Markdown renderers).
//
// Positions step over characters as units: in a GBK article no match starts on the second
// byte of a two-byte character (the image-tag pattern sees the same characters); in a UTF-8
// article every ASCII byte is a character of its own. So PlainSources of UTF-8 bytes read as
// Gbk equals the pattern on them; read as Utf8 it can also find an attribute right after a
// Chinese character whose last byte GBK would pair with the attribute's first letter.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "job/extension_options.h"
#include "job/found_source.h"

namespace zembrat::platform {
class EventPoints;
}

namespace zembrat::job {

// ArticleEncoding and DetectArticleEncoding (text/article_encoding.h) come with
// found_source.h, as does FoundSource, one found source.

// The sources under the options, sorted by offset, duplicates included; with default options
// exactly PlainSources (plain_reader.h). markdownArticle says the article's name is a Markdown one
// (IsMarkdownName, markdown_reader.h); Markdown is read only when options.markdown is set as well.
// Without HTML rules the result holds every source of PlainSources (same offset, same text): lazy
// images and Markdown only add. HTML rules replace the plain rule, so they can leave out what it
// finds ("src=" inside data-src, a value after "src=" glued to a byte-order mark or another
// character, a match running over several tags) and find what it misses.
//
// The reading takes time linear in the article. With events, it lets the window live every
// 64 KiB of the article (events->ProcessEvents()), and once events->StopRequested() it stops
// reading and returns what it found so far: the caller checks StopRequested() and drops it.
//
// edits, when given, receives where lazy images' real sources must also be written into their
// src (lazy option only; see SourceEdit), in article order.
std::vector<FoundSource> ScanSources(std::string_view article, const ExtensionOptions& options,
                                     ArticleEncoding encoding, bool markdownArticle,
                                     platform::EventPoints* events = nullptr,
                                     SourceEdits* edits = nullptr);

// Each text kept only at its last occurrence, in the order those last occurrences stand (the
// rule RemoveDuplicates applies to texts).
std::vector<FoundSource> KeepLastOccurrences(std::vector<FoundSource> sources);

}  // namespace zembrat::job
