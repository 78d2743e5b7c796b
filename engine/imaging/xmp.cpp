// XMP kept in outputs, edited as text. The packet is RDF/XML that any writer may lay out as it likes: a
// property may be an attribute of rdf:Description or an element of its own, under any prefix its namespace is
// bound to. The editor walks the markup once, touches only the properties that must follow the output, and
// copies every other byte as it stands, so the packet keeps its form, its comments and its xpacket wrapper.
#include <map>
#include <optional>
#include <string_view>

#include "engine/imaging/internal.h"

namespace qx::imaging::detail {
namespace {

enum class Space { kOther, kExif, kTiff, kNote };

Space SpaceOf(std::string_view uri) {
    if (uri == "http://ns.adobe.com/exif/1.0/" || uri == "http://cipa.jp/exif/1.0/") return Space::kExif;
    if (uri == "http://ns.adobe.com/tiff/1.0/") return Space::kTiff;
    if (uri == "http://ns.adobe.com/xmp/note/") return Space::kNote;
    return Space::kOther;
}

bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.' || c == ':' || static_cast<unsigned char>(c) >= 0x80;
}
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

class XmpEditor {
public:
    XmpEditor(std::string_view text, uint32_t width, uint32_t height, bool dropGps)
        : s_(text), width_(std::to_string(width)), height_(std::to_string(height)), dropGps_(dropGps) {}

    // The edited packet; nullopt when the markup is broken where it would have to be read.
    std::optional<std::string> Run() {
        if (!ReadBindings()) return std::nullopt;
        out_.reserve(s_.size());
        size_t i = 0;
        while (i < s_.size()) {
            const size_t open = s_.find('<', i);
            if (open == std::string_view::npos) break;
            out_.append(s_, i, open - i);
            i = open;
            if (!Markup(i)) return std::nullopt;
        }
        out_.append(s_.substr(i));
        return std::move(out_);
    }

private:
    enum class Action { kKeep, kRemove, kSetWidth, kSetHeight, kSetOne };

    // Every xmlns binding in the packet. A prefix bound to a namespace of interest in one place and to
    // another elsewhere cannot be told apart without a full parser: such a packet is refused.
    bool ReadBindings() {
        for (size_t at = s_.find("xmlns"); at != std::string_view::npos; at = s_.find("xmlns", at + 5)) {
            size_t i = at + 5;
            std::string prefix;
            if (i < s_.size() && s_[i] == ':') {
                const size_t start = ++i;
                while (i < s_.size() && IsNameChar(s_[i])) ++i;
                prefix = s_.substr(start, i - start);
            }
            while (i < s_.size() && IsSpace(s_[i])) ++i;
            if (i >= s_.size() || s_[i] != '=') continue;
            ++i;
            while (i < s_.size() && IsSpace(s_[i])) ++i;
            if (i >= s_.size() || (s_[i] != '"' && s_[i] != '\'')) continue;
            const size_t end = s_.find(s_[i], i + 1);
            if (end == std::string_view::npos) return false;
            const Space space = SpaceOf(s_.substr(i + 1, end - i - 1));
            const auto [it, added] = spaces_.emplace(prefix, space);
            if (!added && it->second != space) return false;
        }
        return true;
    }

    // An attribute without a prefix is in no namespace; an element without one is in the default namespace.
    Action ActionFor(std::string_view name, bool attribute) const {
        const size_t colon = name.find(':');
        if (attribute && colon == std::string_view::npos) return Action::kKeep;
        const std::string prefix(colon == std::string_view::npos ? std::string_view{} : name.substr(0, colon));
        const std::string_view local = colon == std::string_view::npos ? name : name.substr(colon + 1);
        const auto it = spaces_.find(prefix);
        if (it == spaces_.end()) return Action::kKeep;
        switch (it->second) {
            case Space::kExif:
                if (dropGps_ && local.starts_with("GPS")) return Action::kRemove;
                if (local == "PixelXDimension") return Action::kSetWidth;
                if (local == "PixelYDimension") return Action::kSetHeight;
                return Action::kKeep;
            case Space::kTiff:
                if (local == "Orientation") return Action::kSetOne;
                if (local == "ImageWidth") return Action::kSetWidth;
                if (local == "ImageLength") return Action::kSetHeight;
                return Action::kKeep;
            // The extension of a JPEG's packet is never carried over, so its pointer would dangle.
            case Space::kNote: return local == "HasExtendedXMP" ? Action::kRemove : Action::kKeep;
            case Space::kOther: return Action::kKeep;
        }
        return Action::kKeep;
    }

    std::string_view ValueFor(Action action) const {
        if (action == Action::kSetWidth) return width_;
        if (action == Action::kSetHeight) return height_;
        return "1";
    }

    // Copies what passes through `to` (exclusive) untouched; false when it is not there.
    bool CopyThrough(size_t& i, std::string_view to) {
        const size_t end = s_.find(to, i);
        if (end == std::string_view::npos) return false;
        out_.append(s_, i, end + to.size() - i);
        i = end + to.size();
        return true;
    }

    // One piece of markup starting at '<'.
    bool Markup(size_t& i) {
        const std::string_view rest = s_.substr(i);
        if (rest.starts_with("<!--")) return CopyThrough(i, "-->");
        if (rest.starts_with("<?")) return CopyThrough(i, "?>");
        if (rest.starts_with("<![CDATA[")) return CopyThrough(i, "]]>");
        if (rest.starts_with("<!") || rest.starts_with("</")) return CopyThrough(i, ">");
        return StartTag(i);
    }

    struct Tag {
        std::string_view name;
        size_t end = 0;  // after '>'
        bool empty = false;
    };

    // Reads a start tag at i, editing its attributes into `edited`.
    std::optional<Tag> ReadTag(size_t i, std::string& edited) const {
        Tag tag;
        size_t at = i + 1;
        while (at < s_.size() && IsNameChar(s_[at])) ++at;
        tag.name = s_.substr(i + 1, at - i - 1);
        if (tag.name.empty()) return std::nullopt;
        edited.assign(s_, i, at - i);
        while (true) {
            const size_t gap = at;
            while (at < s_.size() && IsSpace(s_[at])) ++at;
            if (at >= s_.size()) return std::nullopt;
            if (s_[at] == '>' || s_.substr(at).starts_with("/>")) {
                tag.empty = s_[at] == '/';
                tag.end = at + (tag.empty ? 2 : 1);
                edited.append(s_, gap, tag.end - gap);
                return tag;
            }
            const size_t nameStart = at;
            while (at < s_.size() && IsNameChar(s_[at])) ++at;
            const std::string_view name = s_.substr(nameStart, at - nameStart);
            while (at < s_.size() && IsSpace(s_[at])) ++at;
            if (name.empty() || at >= s_.size() || s_[at] != '=') return std::nullopt;
            ++at;
            while (at < s_.size() && IsSpace(s_[at])) ++at;
            if (at >= s_.size() || (s_[at] != '"' && s_[at] != '\'')) return std::nullopt;
            const size_t valueEnd = s_.find(s_[at], at + 1);
            if (valueEnd == std::string_view::npos) return std::nullopt;
            const Action action = ActionFor(name, true);
            if (action == Action::kRemove) {
                // nothing: the attribute and the blank before it go
            } else if (action == Action::kKeep || name.starts_with("xmlns")) {
                edited.append(s_, gap, valueEnd + 1 - gap);
            } else {
                edited.append(s_, gap, at + 1 - gap);
                edited += ValueFor(action);
                edited += s_[at];
            }
            at = valueEnd + 1;
        }
    }

    // Where the element whose start tag ends at `from` ends (after its end tag); nested elements of the same
    // name are counted.
    std::optional<size_t> ElementEnd(std::string_view name, size_t from) const {
        int depth = 1;
        size_t at = from;
        std::string scratch;
        while (true) {
            at = s_.find('<', at);
            if (at == std::string_view::npos) return std::nullopt;
            const std::string_view rest = s_.substr(at);
            if (rest.starts_with("</")) {
                const size_t close = s_.find('>', at);
                if (close == std::string_view::npos) return std::nullopt;
                size_t n = at + 2;
                while (n < close && IsNameChar(s_[n])) ++n;
                if (s_.substr(at + 2, n - at - 2) == name && --depth == 0) return close + 1;
                at = close + 1;
            } else if (rest.starts_with("<!--") || rest.starts_with("<?") || rest.starts_with("<![CDATA[") ||
                       rest.starts_with("<!")) {
                const std::string_view to = rest.starts_with("<!--")        ? "-->"
                                            : rest.starts_with("<?")        ? "?>"
                                            : rest.starts_with("<![CDATA[") ? "]]>"
                                                                            : ">";
                const size_t end = s_.find(to, at);
                if (end == std::string_view::npos) return std::nullopt;
                at = end + to.size();
            } else {
                const std::optional<Tag> tag = ReadTag(at, scratch);
                if (!tag) return std::nullopt;
                if (tag->name == name && !tag->empty) ++depth;
                at = tag->end;
            }
        }
    }

    bool StartTag(size_t& i) {
        std::string edited;
        const std::optional<Tag> tag = ReadTag(i, edited);
        if (!tag) return false;
        const Action action = ActionFor(tag->name, false);
        if (action == Action::kRemove) {
            const std::optional<size_t> end = tag->empty ? tag->end : ElementEnd(tag->name, tag->end);
            if (!end) return false;
            // The line the property stood on goes with it.
            while (!out_.empty() && (out_.back() == ' ' || out_.back() == '\t')) out_.pop_back();
            if (!out_.empty() && out_.back() == '\n') out_.pop_back();
            if (!out_.empty() && out_.back() == '\r') out_.pop_back();
            i = *end;
            return true;
        }
        out_ += edited;
        i = tag->end;
        if (action == Action::kKeep || tag->empty) return true;
        // A simple property: its text up to its own end tag is the value.
        const size_t close = s_.find('<', i);
        if (close == std::string_view::npos) return false;
        const std::string end = "</" + std::string(tag->name) + ">";
        if (s_.substr(close).starts_with(end)) {
            out_ += ValueFor(action);
            i = close;
        }
        return true;
    }

    std::string_view s_;
    std::string width_, height_;
    bool dropGps_;
    std::map<std::string, Space> spaces_;
    std::string out_;
};

}  // namespace

std::vector<uint8_t> PrepareXmp(const std::vector<uint8_t>& xmp, uint32_t width, uint32_t height, bool dropGps) {
    const std::string_view text(reinterpret_cast<const char*>(xmp.data()), xmp.size());
    // A packet in UTF-16 or UTF-32 cannot be read here; better none than one whose position stays.
    if (text.find('\0') != std::string_view::npos) return {};
    const std::optional<std::string> edited = XmpEditor(text, width, height, dropGps).Run();
    if (!edited) return {};
    return std::vector<uint8_t>(edited->begin(), edited->end());
}

}  // namespace qx::imaging::detail
