#include "plugin/Appcast.h"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <charconv>
#include <cstring>
#include <memory>

#include "plugin/Version.h"

namespace orvan {
namespace {

using Document = std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)>;

bool named(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

// Elements of RSS itself carry no namespace.
const xmlNode* child(const xmlNode* parent, const char* name) {
    for (const xmlNode* node = parent->children; node != nullptr; node = node->next) {
        if (named(node, name) && node->ns == nullptr) return node;
    }
    return nullptr;
}

std::string text(const xmlNode* node) {
    if (node == nullptr) return {};
    xmlChar* content = xmlNodeGetContent(node);
    std::string result = content != nullptr ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return result;
}

std::string attribute(const xmlNode* node, const char* name, const char* ns = nullptr) {
    const auto* key = reinterpret_cast<const xmlChar*>(name);
    xmlChar* value = ns != nullptr ? xmlGetNsProp(node, key, reinterpret_cast<const xmlChar*>(ns)) : xmlGetNoNsProp(node, key);
    std::string result = value != nullptr ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return result;
}

bool isBlock(const xmlNode* node) {
    for (const char* name : {"p", "div", "br", "li", "ul", "ol", "h1", "h2", "h3", "h4", "h5", "h6", "tr"}) {
        if (named(node, name)) return true;
    }
    return false;
}

void collectText(const xmlNode* node, std::string& out) {
    for (; node != nullptr; node = node->next) {
        if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
            out += reinterpret_cast<const char*>(node->content);
        } else if (node->type == XML_ELEMENT_NODE && !named(node, "script") && !named(node, "style")) {
            if (named(node, "li")) out += "・";
            collectText(node->children, out);
            if (isBlock(node) && !out.empty() && out.back() != '\n') out += '\n';
        }
    }
}

// Release notes may be HTML: only their text is kept, so nothing of the feed is ever rendered.
std::string plainText(const std::string& notes) {
    if (notes.find('<') == std::string::npos) return notes;
    Document html(htmlReadMemory(notes.data(), static_cast<int>(notes.size()), nullptr, "UTF-8",
                                 HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET),
                  &xmlFreeDoc);
    if (!html) return {};
    std::string out;
    collectText(xmlDocGetRootElement(html.get()), out);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

// A length in bytes; 0 (unknown) for anything but plain digits ("-1" must not wrap into a huge one).
std::uint64_t byteCount(const std::string& text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

}  // namespace

std::variant<Appcast, std::string> Appcast::parse(std::string_view xml) {
    // No network and no entity expansion: the feed is data, not instructions.
    Document document(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
                                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
                      &xmlFreeDoc);
    if (!document) return std::string("XML として読めません");
    const xmlNode* root = xmlDocGetRootElement(document.get());
    const xmlNode* channel = root != nullptr && named(root, "rss") ? child(root, "channel") : nullptr;
    if (channel == nullptr) return std::string("RSS のフィードではありません");
    Appcast appcast;
    for (const xmlNode* node = channel->children; node != nullptr; node = node->next) {
        if (!named(node, "item") || node->ns != nullptr) continue;
        const xmlNode* enclosure = child(node, "enclosure");
        if (enclosure == nullptr) continue;
        AppcastItem item;
        item.title = text(child(node, "title"));
        item.releaseNotes = plainText(text(child(node, "description")));
        item.url = attribute(enclosure, "url");
        item.type = attribute(enclosure, "type");
        item.length = byteCount(attribute(enclosure, "length"));
        item.version = attribute(enclosure, "version", kNamespace);
        item.shortVersion = attribute(enclosure, "shortVersionString", kNamespace);
        item.signature = attribute(enclosure, "edSignature", kNamespace);
        if (item.shortVersion.empty()) item.shortVersion = item.version;
        if (item.url.empty() || item.version.empty() || item.signature.empty()) continue;
        appcast.items.push_back(std::move(item));
    }
    return appcast;
}

std::optional<AppcastItem> Appcast::newestAfter(std::string_view current, const std::optional<std::string>& skipped) const {
    const AppcastItem* newest = nullptr;
    for (const AppcastItem& item : items) {
        if (compareVersions(item.version, current) <= 0) continue;
        if (newest == nullptr || compareVersions(item.version, newest->version) > 0) newest = &item;
    }
    if (newest == nullptr || (skipped && compareVersions(newest->version, *skipped) == 0)) return std::nullopt;
    return *newest;
}

}  // namespace orvan
