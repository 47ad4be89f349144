// Finding the source values of an article's images under the extension options: pure
// functions over the article's bytes. They find; keeping, completing and excluding is decided in
// job/references.h.
//
// How tags are read:
// - The plain rule (every option off) gives exactly the source values of ImageTagPattern():
//   "<img " then, on the same line, the first "src=" that is followed by an optional quote and
//   a value of characters other than quotes, "<", ">" and space, with a ">" after it on the
//   value's last line. Letter case is ignored; a match may run over several tags.
// - Lazy and responsive images: tags are read as HTML rules read them (below), and in "<img>"
//   tags the values of src, data-src, data-original, data-lazy-src, data-actualsrc, srcset and
//   data-srcset are sources, and in "<source>" tags inside a <picture> the srcset. A srcset's
//   candidates are separated by spaces and commas; each candidate's address is a source of its
//   own, its descriptor ("2x", "640w") is not part of it and stays in the article as it is.
// - Lazy images made visible: an <img> with a lazy source (its first data-src, data-original,
//   data-lazy-src or data-actualsrc) whose src is a placeholder (empty, a data: URI,
//   about:blank, or a tiny picture such as loading.gif, lazy.gif, grey.gif, blank.gif,
//   pixel.gif, spacer.gif, 1x1.png) gets the lazy source written into that src (the placeholder
//   is then no source: it is not fetched); one with no src gets src="..." after its name. A real
//   picture in src is left alone.
// - The lazy option also reads the other places an image lives: url(...) in style attributes
//   and <style> blocks (quoted with ", ', &quot; or &#39;, or bare), the content of
//   <meta property="og:image"> and <meta name="twitter:image">, and the href of an <a> whose
//   address ends in a picture extension (jpg, jpeg, png, gif, webp, bmp, svg, avif) when an
//   <img> begins before the next </a>.
// - HTML rules read every tag as a browser's tokenizer does (job/html_tokenizer.h): white space
//   (space, tab, line feed, carriage return, form feed) or "/" after the tag name, between
//   attributes and around "=", attribute names in any letter case and matched whole (data-src is
//   not src), quoted values read whole up to the matching quote, unquoted values up to white space
//   or ">", the first of two attributes of the same name. No tag is read in comments, bogus
//   comments, CDATA, the text of raw text and RCDATA elements, template content, SVG or MathML
//   content, another tag's quoted value, or a tag the article's end cuts off; <image> is <img>.
//   The source text is the value without leading and trailing white space; the address fetched
//   has its character references decoded as a browser decodes them in an attribute (HTML's whole
//   named table, job/named_references.inc), inner spaces written as %20, tabs and line breaks
//   dropped. Under these rules (and the lazy option) the src values come from this reading (the
//   plain rule is not used).
// - Markdown articles (the option on and a Markdown name) are read as CommonMark 0.30 reads them
//   (job/commonmark_reader.h) instead of by the rules above: the destinations of images in the
//   inline, full, collapsed and shortcut reference forms (a reference image's at its
//   definition, once), and a link's destination around an image when it names a picture, decoded
//   as CommonMark decodes them (backslash escapes, entity and numeric references); the raw HTML
//   CommonMark passes through (never code) read by HTML rules (with the lazy attributes and
//   places under that option). Also read, outside code and HTML: the cover:, image: and
//   thumbnail: fields of a YAML ("---") or TOML ("+++") front matter at the very top, Hugo's
//   {{< figure src="..." >}} (and {{% figure %}}), and Hexo's {% img [class] url [w h] [title] %}
//   (the url is the first word that begins with "/" or holds "://").
// - A character a reference decodes to is written percent-encoded as UTF-8 in the fetched
//   address of a UTF-8 article (as the article's own non-ASCII bytes are asked for), and in GBK in
//   a GBK article's.
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
// (IsMarkdownName, markdown_reader.h); Markdown is read only when options.markdown is set as well,
// and then replaces the other readings. HTML rules and lazy images replace the plain rule, so they
// can leave out what it finds ("src=" inside data-src or a comment, a value after "src=" glued to a
// byte-order mark or another character, a match running over several tags) and find what it
// misses. Every source's text stands in the article at its offset, as written: the rewrite under
// these options replaces exactly there.
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
