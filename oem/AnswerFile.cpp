#include "oem/AnswerFile.h"

#include "core/Exceptions.h"

#include <libxml/chvalid.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace oem {

namespace {

constexpr const char* kUnattendNamespace = "urn:schemas-microsoft-com:unattend";
constexpr const char* kWcmNamespace = "http://schemas.microsoft.com/WMIConfig/2002/State";
constexpr const char* kXsiNamespace = "http://www.w3.org/2001/XMLSchema-instance";
constexpr const char* kShellSetup = "Microsoft-Windows-Shell-Setup";
constexpr const char* kBom = "\xEF\xBB\xBF";

// The configuration passes in the order setup runs them, which is the order Windows' own
// answer files list them in.
constexpr std::array<const char*, 7> kPasses = {"windowsPE",   "offlineServicing", "generalize",
                                                "specialize",  "auditSystem",      "auditUser",
                                                "oobeSystem"};

// The items in the order the answer-file schema lists them, which is the order they are kept in.
struct Item {
    const char* element;
    std::optional<std::string> AnswerOemInformation::*member;
};
constexpr std::array<Item, 7> kItems = {{
    {"HelpCustomized", &AnswerOemInformation::helpCustomized},
    {"Logo", &AnswerOemInformation::logo},
    {"Manufacturer", &AnswerOemInformation::manufacturer},
    {"Model", &AnswerOemInformation::model},
    {"SupportHours", &AnswerOemInformation::supportHours},
    {"SupportPhone", &AnswerOemInformation::supportPhone},
    {"SupportURL", &AnswerOemInformation::supportUrl},
}};

const xmlChar* x(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

bool named(const xmlNode* node, const char* name)
{
    return node && node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, x(name)) &&
           node->ns && xmlStrEqual(node->ns->href, x(kUnattendNamespace));
}

std::string attribute(const xmlNode* node, const char* name)
{
    xmlChar* value = xmlGetProp(node, x(name));
    std::string out = value ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return out;
}

std::vector<xmlNode*> children(xmlNode* parent, const char* name)
{
    std::vector<xmlNode*> out;
    for (xmlNode* child = parent->children; child; child = child->next)
        if (named(child, name))
            out.push_back(child);
    return out;
}

xmlNode* shellSetup(xmlNode* settings)
{
    for (xmlNode* component : children(settings, "component"))
        if (attribute(component, "name") == kShellSetup)
            return component;
    return nullptr;
}

bool isBlank(const xmlNode* node)
{
    return node && node->type == XML_TEXT_NODE && xmlIsBlankNode(const_cast<xmlNode*>(node));
}

// The indentation of a node: what follows the last line break of the blank text before it.
std::string indentOf(const xmlNode* node)
{
    if (!isBlank(node->prev))
        return "";
    const std::string space = reinterpret_cast<const char*>(node->prev->content);
    const std::size_t lineBreak = space.rfind('\n');
    return lineBreak == std::string::npos ? "" : space.substr(lineBreak + 1);
}

xmlNode* firstElement(xmlNode* parent)
{
    for (xmlNode* child = parent->children; child; child = child->next)
        if (child->type == XML_ELEMENT_NODE)
            return child;
    return nullptr;
}

// Puts a new element into parent before the element before (at the end when null), laid out
// as its siblings are: on a line of its own, indented as they are, or one step deeper than the
// parent when it is the first.
void insertIndented(xmlNode* parent, xmlNode* child, xmlNode* before)
{
    xmlDoc* doc = parent->doc;
    const std::string parentIndent = indentOf(parent);
    const xmlNode* sibling = firstElement(parent);
    const std::string step = parentIndent.find('\t') != std::string::npos ? "\t" : "    ";
    const std::string indent = sibling ? indentOf(sibling) : parentIndent + step;
    const auto space = [&](const std::string& text) {
        return xmlNewDocText(doc, x(text.c_str()));
    };
    if (before) {
        xmlAddPrevSibling(before, child);
        xmlAddPrevSibling(before, space("\n" + indent));
        return;
    }
    if (isBlank(parent->last) && parent->last != parent->children) {
        // libxml2 merges adjacent text nodes: the element goes in first, then the space
        // between it and the element before.
        xmlAddPrevSibling(parent->last, child);
        xmlAddPrevSibling(child, space("\n" + indent));
        return;
    }
    if (isBlank(parent->last) && sibling == nullptr) {
        // Only blank text so far: it becomes the line break before the new element.
        xmlNodeSetContent(parent->last, x(("\n" + indent).c_str()));
        xmlAddChild(parent, child);
        xmlAddChild(parent, space("\n" + parentIndent));
        return;
    }
    xmlAddChild(parent, space("\n" + indent));
    xmlAddChild(parent, child);
    xmlAddChild(parent, space("\n" + parentIndent));
}

// The first element child of parent that the predicate says must come after a new one.
template <typename After>
xmlNode* firstAfter(xmlNode* parent, After after)
{
    for (xmlNode* child = parent->children; child; child = child->next)
        if (child->type == XML_ELEMENT_NODE && after(child))
            return child;
    return nullptr;
}

int passOrder(const std::string& pass)
{
    const auto it = std::find(kPasses.begin(), kPasses.end(), pass);
    return int(it - kPasses.begin());
}

// Text that an XML document can carry: UTF-8 of characters XML 1.0 allows.
bool storable(const std::string& text)
{
    if (!xmlCheckUTF8(x(text.c_str())) || text.find('\0') != std::string::npos)
        return false;
    for (std::size_t i = 0; i < text.size();) {
        int length = int(text.size() - i);
        const int c = xmlGetUTF8Char(x(text.c_str() + i), &length);
        if (c < 0 || !xmlIsCharQ(c))
            return false;
        i += std::size_t(length);
    }
    return true;
}

} // namespace

struct AnswerFile::Document {
    struct Free {
        void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
    };
    std::unique_ptr<xmlDoc, Free> doc;
    std::string shownAs;
    bool declaration = false; // the file begins with an XML declaration
    bool bom = false;         // and before it with a UTF-8 byte-order mark
    bool crlf = false;        // its lines end in CR LF
    bool finalBreak = true;   // its last line ends in a line break

    xmlNode* root() const { return xmlDocGetRootElement(doc.get()); }

    // Every OEMInformation element of a Shell-Setup component, with its pass.
    std::vector<std::pair<std::string, xmlNode*>> oemElements() const
    {
        std::vector<std::pair<std::string, xmlNode*>> out;
        for (xmlNode* settings : children(root(), "settings"))
            for (xmlNode* component : children(settings, "component"))
                if (attribute(component, "name") == kShellSetup)
                    for (xmlNode* element : children(component, "OEMInformation"))
                        out.emplace_back(attribute(settings, "pass"), element);
        return out;
    }

    xmlNode* newElement(xmlNode* parent, const char* name) const
    {
        xmlNs* ns = xmlSearchNsByHref(doc.get(), parent, x(kUnattendNamespace));
        return xmlNewDocNode(doc.get(), ns, x(name), nullptr);
    }

    // The processor architecture the file's components are for; amd64 when none says.
    std::string architecture() const
    {
        for (xmlNode* settings : children(root(), "settings"))
            for (xmlNode* component : children(settings, "component")) {
                const std::string value = attribute(component, "processorArchitecture");
                if (!value.empty())
                    return value;
            }
        return "amd64";
    }

    // The OEMInformation element a new item goes into, made with what it needs.
    xmlNode* makeOemElement() const
    {
        xmlNode* unattend = root();
        std::vector<xmlNode*> all = children(unattend, "settings");
        const auto specialize = std::find_if(all.begin(), all.end(), [](xmlNode* node) {
            return attribute(node, "pass") == "specialize";
        });
        xmlNode* settings = specialize == all.end() ? nullptr : *specialize;
        if (!settings) {
            settings = newElement(unattend, "settings");
            xmlNewProp(settings, x("pass"), x("specialize"));
            insertIndented(unattend, settings, firstAfter(unattend, [](xmlNode* node) {
                               return named(node, "settings") &&
                                      passOrder(attribute(node, "pass")) > passOrder("specialize");
                           }));
        }
        xmlNode* component = shellSetup(settings);
        if (!component) {
            component = newElement(settings, "component");
            xmlNewProp(component, x("name"), x(kShellSetup));
            xmlNewProp(component, x("processorArchitecture"), x(architecture().c_str()));
            xmlNewProp(component, x("publicKeyToken"), x("31bf3856ad364e35"));
            xmlNewProp(component, x("language"), x("neutral"));
            xmlNewProp(component, x("versionScope"), x("nonSxS"));
            xmlNewNs(component, x(kWcmNamespace), x("wcm"));
            xmlNewNs(component, x(kXsiNamespace), x("xsi"));
            insertIndented(settings, component, nullptr);
        }
        xmlNode* element = newElement(component, "OEMInformation");
        // The component's settings are kept in the schema's alphabetical order.
        insertIndented(component, element, firstAfter(component, [](xmlNode* node) {
                           return xmlStrcmp(node->name, x("OEMInformation")) > 0;
                       }));
        return element;
    }
};

AnswerFile::AnswerFile(std::string_view bytes, std::string shownAs)
    : document_(std::make_unique<Document>())
{
    document_->shownAs = std::move(shownAs);
    const std::string& name = document_->shownAs;
    xmlInitParser();
    xmlParserCtxtPtr context = xmlNewParserCtxt();
    if (!context)
        throw Exception("Out of memory reading " + name);
    // No network, no external DTD, no entity substitution: the file is read as it is and
    // nothing it names is fetched.
    document_->doc.reset(xmlCtxtReadMemory(context, bytes.data(), int(std::min<std::size_t>(bytes.size(), INT32_MAX)),
                                           nullptr, nullptr,
                                           XML_PARSE_NONET | XML_PARSE_NOERROR |
                                               XML_PARSE_NOWARNING));
    if (!document_->doc || bytes.size() > INT32_MAX) {
        const xmlError* error = xmlCtxtGetLastError(context);
        std::string reason = error && error->message ? error->message : "unreadable";
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' '))
            reason.pop_back();
        const int line = error ? error->line : 0;
        xmlFreeParserCtxt(context);
        throw Exception(name + " is not well-formed XML (line " + std::to_string(line) + ": " +
                        reason + ")");
    }
    xmlFreeParserCtxt(context);
    if (!named(document_->root(), "unattend"))
        throw Exception(name + " is not an answer file (its root element is not unattend of " +
                        kUnattendNamespace + ")");
    std::string_view text = bytes;
    document_->bom = text.starts_with(kBom);
    if (document_->bom)
        text.remove_prefix(3);
    document_->declaration = text.starts_with("<?xml");
    const std::size_t firstBreak = text.find('\n');
    document_->crlf = firstBreak != std::string_view::npos && firstBreak > 0 &&
                      text[firstBreak - 1] == '\r';
    document_->finalBreak = text.ends_with('\n');
    std::vector<std::string> passes;
    for (const auto& [pass, element] : document_->oemElements())
        if (std::find(passes.begin(), passes.end(), pass) == passes.end())
            passes.push_back(pass);
    if (passes.size() > 1) {
        std::string list;
        for (const std::string& pass : passes)
            list += (list.empty() ? "" : ", ") + pass;
        throw Exception(name + " has OEMInformation in more than one pass (" + list +
                        "); it is left as it is");
    }
}

AnswerFile::~AnswerFile() = default;
AnswerFile::AnswerFile(AnswerFile&&) noexcept = default;
AnswerFile& AnswerFile::operator=(AnswerFile&&) noexcept = default;

std::string AnswerFile::pass() const
{
    const auto elements = document_->oemElements();
    return elements.empty() ? "" : elements.front().first;
}

AnswerOemInformation AnswerFile::read() const
{
    AnswerOemInformation items;
    const auto elements = document_->oemElements();
    if (elements.empty())
        return items;
    for (const Item& item : kItems)
        for (xmlNode* child : children(elements.front().second, item.element)) {
            xmlChar* content = xmlNodeGetContent(child);
            items.*item.member = content ? reinterpret_cast<const char*>(content) : "";
            xmlFree(content);
            break;
        }
    return items;
}

void AnswerFile::write(const AnswerOemInformation& items)
{
    for (const Item& item : kItems)
        if (const auto& value = items.*item.member; value && !storable(*value))
            throw Exception(std::string(item.element) +
                            " is not text that an answer file can hold");
    std::vector<xmlNode*> elements;
    for (const auto& [pass, element] : document_->oemElements())
        elements.push_back(element);
    if (elements.empty())
        elements.push_back(document_->makeOemElement());
    for (xmlNode* element : elements)
        for (std::size_t i = 0; i < kItems.size(); ++i) {
            const auto& value = items.*kItems[i].member;
            if (!value)
                continue;
            std::vector<xmlNode*> existing = children(element, kItems[i].element);
            xmlNode* child = existing.empty() ? nullptr : existing.front();
            if (!child) {
                child = document_->newElement(element, kItems[i].element);
                insertIndented(element, child, firstAfter(element, [&](xmlNode* node) {
                                   for (std::size_t later = i + 1; later < kItems.size(); ++later)
                                       if (named(node, kItems[later].element))
                                           return true;
                                   return false;
                               }));
            }
            // The text replaces what the element held; it is taken literally, never as markup.
            while (child->children) {
                xmlNode* old = child->children;
                xmlUnlinkNode(old);
                xmlFreeNode(old);
            }
            if (!value->empty())
                xmlAddChild(child, xmlNewDocText(document_->doc.get(), x(value->c_str())));
        }
}

std::string AnswerFile::bytes() const
{
    xmlBufferPtr buffer = xmlBufferCreate();
    // A file that declares no encoding is UTF-8, and is written so rather than with
    // character references.
    const char* encoding = document_->doc->encoding
                               ? reinterpret_cast<const char*>(document_->doc->encoding)
                               : "UTF-8";
    xmlSaveCtxtPtr save =
        xmlSaveToBuffer(buffer, encoding, document_->declaration ? 0 : XML_SAVE_NO_DECL);
    if (!save) {
        xmlBufferFree(buffer);
        throw Exception("Cannot write " + document_->shownAs + " in its encoding");
    }
    xmlSaveDoc(save, document_->doc.get());
    xmlSaveClose(save);
    std::string out(reinterpret_cast<const char*>(xmlBufferContent(buffer)),
                    std::size_t(xmlBufferLength(buffer)));
    xmlBufferFree(buffer);
    // libxml2 ends every line in LF; a file whose lines end in CR LF gets them back. Text
    // never holds a bare CR here: the parser turned them into LF and the writer writes one
    // held in text as a character reference. Only where LF is one byte of its own.
    const bool wide = encoding && (xmlStrncasecmp(x(encoding), x("UTF-16"), 6) == 0 ||
                                   xmlStrncasecmp(x(encoding), x("UCS"), 3) == 0 ||
                                   xmlStrncasecmp(x(encoding), x("UTF-32"), 6) == 0);
    // libxml2 ends the document with a line break whether the file did or not.
    if (!document_->finalBreak && !wide && out.ends_with('\n'))
        out.pop_back();
    if (document_->crlf && !wide) {
        std::string crlf;
        crlf.reserve(out.size() + out.size() / 16);
        for (char c : out) {
            if (c == '\n')
                crlf += '\r';
            crlf += c;
        }
        out = std::move(crlf);
    }
    if (document_->bom && !out.starts_with(kBom))
        out.insert(0, kBom);
    return out;
}

} // namespace oem
