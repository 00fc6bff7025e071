// A small pull reader of workbook XML: UTF-8 only, prefixes as written, no document types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Why a document cannot be read, as one line ("is not well-formed XML at byte 1234: ...").
struct XmlFailure {
  std::string message;
};

// Where the document's bytes come from: fills up to `capacity` bytes at `destination` and
// returns how many; 0 only at the end. Returning more than `capacity` throws XmlFailure.
using XmlSource = std::function<std::size_t(char* destination, std::size_t capacity)>;

enum class XmlEvent : std::uint8_t { StartElement, EndElement, Text, End };

// An attribute of a start tag: its name as written (with prefix), its value decoded. Both stay
// valid until the next event is read.
struct XmlAttribute {
  std::string_view name;
  std::string_view value;
};

// Bytes asked of the source at a time.
inline constexpr std::size_t kXmlBufferSize = std::size_t{64} * 1024;

// The reader's state. Names, values and texts are views of the buffer where they stand there as
// they are meant; the others, and those the buffer must give up when it is refilled, are held in
// the reader's strings, which keep their capacity from event to event, so that once they have
// grown, reading allocates nothing.
struct XmlReader {
  XmlSource source;
  std::unique_ptr<char[]> buffer;  // kXmlBufferSize bytes; [position, filled) not yet read
  std::size_t position = 0;
  std::size_t filled = 0;
  std::uint64_t bufferStart = 0;  // the document offset of buffer[0]
  bool sourceEnded = false;
  bool started = false;  // the byte order mark and the XML declaration are behind
  std::size_t mostTextBytes = 0;
  std::vector<std::string> openElements;  // names of the open elements; the first `depth` count
  std::size_t depth = 0;
  bool rootSeen = false;
  bool emptyElementOpen = false;  // after <a/>'s StartElement, its EndElement is due
  bool ended = false;
  std::string_view name;                 // the current element's
  std::string nameHeld;                  // a name that is not a view of the buffer
  std::vector<XmlAttribute> attributes;  // the first `attributeCount` belong to the current tag
  std::size_t attributeCount = 0;
  // By slot, as nameHeld; a deque, so that a slot added moves none of the others.
  std::deque<std::string> attributeNamesHeld;
  std::deque<std::string> attributeValuesHeld;
  std::vector<std::uint16_t> attributeOrder;  // scratch for finding duplicate attributes
  std::string_view text;
  std::string textHeld;  // a text that is not a view of the buffer
};

// Starts reading a document from `source`. `mostTextBytes` bounds one Text event (longer text
// throws XmlFailure), so that a hostile document cannot make the reader hold more.
void StartXml(XmlReader& reader, XmlSource source, std::size_t mostTextBytes);

// The next event. An empty-element tag <a/> gives StartElement then EndElement. The character
// data between two tags (references decoded, CDATA sections joined in, comments and processing
// instructions left out, CR LF and lone CR turned into LF) is one Text event, whitespace-only
// text included. Comments, processing instructions and whitespace outside the root element are
// skipped. End comes once the root element has closed and only whitespace, comments and
// processing instructions follow, and again on every later call. Throws XmlFailure for a
// document that is not well-formed UTF-8 XML within the reader's bounds (at most 256 open
// elements, 1000 attributes a tag, names and attribute values of 64 KiB, Text of
// `mostTextBytes`), for any document type declaration (no entity is ever expanded), for an
// encoding other than UTF-8, and for an empty document.
XmlEvent NextXml(XmlReader& reader);

// The current StartElement's or EndElement's name as written ("x:c", "c").
std::string_view XmlName(const XmlReader& reader);

// A name without its prefix: "c" for "x:c" and for "c".
std::string_view LocalName(std::string_view name);

// The name an attribute is found by: its local name, or a namespace declaration's full name.
std::string_view AttributeKey(std::string_view name);

// The current StartElement's attribute whose local name is `localName`, its prefix ignored;
// namespace declarations ("xmlns", "xmlns:p") are found only by their full name. Null when absent.
const std::string_view* XmlAttributeValue(const XmlReader& reader, std::string_view localName);

// The current StartElement's attributes in document order.
std::span<const XmlAttribute> XmlAttributes(const XmlReader& reader);

// The current Text event's characters (UTF-8).
std::string_view XmlText(const XmlReader& reader);

// How many elements are open (after a StartElement: including it; after an EndElement: without
// it).
std::size_t XmlDepth(const XmlReader& reader);

// Skips the rest of the current element, called after its StartElement: children and all, up to
// and including its EndElement. Throws XmlFailure as NextXml does.
void SkipXmlElement(XmlReader& reader);
