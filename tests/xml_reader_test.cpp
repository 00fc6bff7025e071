// Tests of the XML pull reader: event sequences, pieces of any size, and documents it refuses.
#include "xml_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <string_view>

namespace {

using namespace std::string_literals;

constexpr std::size_t kTestMostText = std::size_t{1} << 20;

// Feeds `document` in pieces whose sizes `pieceSize` draws (never more than asked for).
XmlSource PiecewiseSource(std::string document, std::function<std::size_t()> pieceSize) {
  auto state = std::make_shared<std::pair<std::string, std::size_t>>(std::move(document), 0);
  return [state, pieceSize](char* destination, std::size_t capacity) {
    auto& [bytes, position] = *state;
    const std::size_t count = std::min({capacity, bytes.size() - position, pieceSize()});
    std::copy_n(bytes.data() + position, count, destination);
    position += count;
    return count;
  };
}

XmlSource WholeSource(std::string document) {
  return PiecewiseSource(std::move(document), [] { return kXmlBufferSize; });
}

// The events of a document in one line: <name a='v'> for a start, </name> for an end, [text]
// for a text, $ for the end (asked twice, to see that it stays).
std::string Trace(XmlSource source, std::size_t mostText = kTestMostText) {
  XmlReader reader;
  StartXml(reader, std::move(source), mostText);
  std::string trace;
  for (int events = 0; events < 1000000; ++events) {
    switch (NextXml(reader)) {
      case XmlEvent::StartElement:
        trace += "<" + std::string(XmlName(reader));
        for (const XmlAttribute& attribute : XmlAttributes(reader)) {
          trace.append(" ").append(attribute.name).append("='");
          trace.append(attribute.value).append("'");
        }
        trace += ">";
        break;
      case XmlEvent::EndElement:
        trace += "</" + std::string(XmlName(reader)) + ">";
        break;
      case XmlEvent::Text:
        trace += "[" + std::string(XmlText(reader)) + "]";
        break;
      case XmlEvent::End:
        return trace + (NextXml(reader) == XmlEvent::End ? "$" : "$ then more");
    }
  }
  return trace + " (no end)";
}

std::string Trace(std::string_view document) {
  return Trace(WholeSource(std::string(document)));
}

struct DocumentCase {
  std::string_view document;
  std::string_view trace;
};

TEST(XmlReaderTest, DocumentsGiveTheirEvents) {
  const DocumentCase cases[] = {
      {"<a/>", "<a></a>$"},
      {"<a></a>", "<a></a>$"},
      {"<a>x</a>", "<a>[x]</a>$"},
      {"<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<a>x</a>\r\n",
       "<a>[x]</a>$"},
      {"<?xml version='1.0' encoding='utf-8'?><a/>", "<a></a>$"},
      {"\xEF\xBB\xBF<a/>", "<a></a>$"},
      {"<x:sheet xmlns:x=\"urn:s\" xmlns=\"urn:d\"><x:c r=\"A1\" x:t=\"s\"/></x:sheet>",
       "<x:sheet xmlns:x='urn:s' xmlns='urn:d'><x:c r='A1' x:t='s'></x:c></x:sheet>$"},
      {"<a>1<![CDATA[<&>]]]]>2<![CDATA[]]></a>", "<a>[1<&>]]2]</a>$"},
      {"<a>&amp;&lt;&gt;&quot;&apos;</a>", "<a>[&<>\"']</a>$"},
      {"<a>&#65;&#x42;&#x00e9;&#x20AC;&#x1F600;&#128512;&#0000065;</a>",
       "<a>[AB\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF0\x9F\x98\x80"
       "A]</a>$"},
      {"<a>1\r\n2\r3\n4\r\r\n</a>", "<a>[1\n2\n3\n4\n\n]</a>$"},
      {"<a><![CDATA[1\r\n2\r3]]></a>", "<a>[1\n2\n3]</a>$"},
      {"<a>&#13;&#10;&#9;</a>", "<a>[\r\n\t]</a>$"},
      {"<a v=\"1\t2\n3\r\n4\r5&#9;6&#10;7&#13;8\"/>", "<a v='1 2 3 4 5\t6\n7\r8'></a>$"},
      {"<a v='\"&amp;&lt;' w=\"'a>b'\"/>", "<a v='\"&<' w=''a>b''></a>$"},
      {"<t xml:space=\"preserve\">  a  </t>", "<t xml:space='preserve'>[  a  ]</t>$"},
      {"<a>\n  <b/>\n</a>", "<a>[\n  ]<b></b>[\n]</a>$"},
      {"<!--c--><?pi x?><a>1<!-- - c -->2<?p?>3<?q  r ?></a><!--e--><?s?>\n", "<a>[123]</a>$"},
      {"<?xml-stylesheet href=\"s.css\"?><a/>", "<a></a>$"},
      {"<a  b = \"1\"\n\tc='2' ></a >", "<a b='1' c='2'></a>$"},
      {"<\xC3\xA4 \xC3\xA9=\"\xC3\xB6\">\xC3\xBC\xF0\x9F\x98\x80</\xC3\xA4>",
       "<\xC3\xA4 \xC3\xA9='\xC3\xB6'>[\xC3\xBC\xF0\x9F\x98\x80]</\xC3\xA4>$"},
      {"<a.b-c_d:e1/>", "<a.b-c_d:e1></a.b-c_d:e1>$"},
      {"<a>]]</a>", "<a>[]]]</a>$"},
      {"<r><c><v>1</v></c><c t=\"s\"><v>2</v></c></r>",
       "<r><c><v>[1]</v></c><c t='s'><v>[2]</v></c></r>$"},
  };
  for (const DocumentCase& test : cases) {
    EXPECT_EQ(Trace(test.document), test.trace) << test.document;
  }
}

TEST(XmlReaderTest, AttributesAreFoundByLocalName) {
  XmlReader reader;
  StartXml(reader, WholeSource("<x:c xmlns=\"d\" xmlns:x=\"s\" x:r=\"A1\" t=\"n\" r:id=\"rId1\"/>"),
           kTestMostText);
  ASSERT_EQ(NextXml(reader), XmlEvent::StartElement);
  EXPECT_EQ(XmlName(reader), "x:c");
  EXPECT_EQ(LocalName(XmlName(reader)), "c");
  EXPECT_EQ(LocalName("c"), "c");
  const auto valueOf = [&reader](std::string_view name) {
    const std::string_view* value = XmlAttributeValue(reader, name);
    return value == nullptr ? std::string("(absent)") : std::string(*value);
  };
  EXPECT_EQ(valueOf("r"), "A1");
  EXPECT_EQ(valueOf("t"), "n");
  EXPECT_EQ(valueOf("id"), "rId1");
  EXPECT_EQ(valueOf("xmlns"), "d");
  EXPECT_EQ(valueOf("xmlns:x"), "s");
  EXPECT_EQ(valueOf("x"), "(absent)");  // a declaration is not found by its prefix's name
  EXPECT_EQ(valueOf("s"), "(absent)");
  ASSERT_EQ(NextXml(reader), XmlEvent::EndElement);
  EXPECT_TRUE(XmlAttributes(reader).empty());
  EXPECT_EQ(valueOf("r"), "(absent)");
}

TEST(XmlReaderTest, DepthCountsOpenElements) {
  XmlReader reader;
  StartXml(reader, WholeSource("<a><b>t</b><c/></a>"), kTestMostText);
  std::string depths;
  for (XmlEvent event = NextXml(reader); event != XmlEvent::End; event = NextXml(reader)) {
    depths += std::to_string(XmlDepth(reader));
  }
  EXPECT_EQ(depths, "1221210");  // <a> <b> t </b> <c> </c> </a>
}

TEST(XmlReaderTest, SkippedElementsLeaveTheReaderAfterTheirEnd) {
  XmlReader reader;
  StartXml(reader, WholeSource("<r><skip a='1'><x><y/>t</x><skip/></skip><e/><k/>after</r>"),
           kTestMostText);
  ASSERT_EQ(NextXml(reader), XmlEvent::StartElement);
  ASSERT_EQ(NextXml(reader), XmlEvent::StartElement);
  SkipXmlElement(reader);
  EXPECT_EQ(XmlName(reader), "skip");
  EXPECT_EQ(XmlDepth(reader), 1u);
  ASSERT_EQ(NextXml(reader), XmlEvent::StartElement);
  EXPECT_EQ(XmlName(reader), "e");
  SkipXmlElement(reader);  // an empty element: just its end
  EXPECT_EQ(XmlDepth(reader), 1u);
  ASSERT_EQ(NextXml(reader), XmlEvent::StartElement);
  EXPECT_EQ(XmlName(reader), "k");
  ASSERT_EQ(NextXml(reader), XmlEvent::EndElement);
  ASSERT_EQ(NextXml(reader), XmlEvent::Text);
  EXPECT_EQ(XmlText(reader), "after");
}

// A random document made from a tree, and the trace its writer knows it must give.
struct GeneratedDocument {
  std::string xml;
  std::string trace;
};

struct DocumentGenerator {
  std::mt19937 random;
  GeneratedDocument document;
  std::string pendingText;  // text since the last tag, joined into one event

  std::size_t Below(std::size_t bound) {
    return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random);
  }
  void FlushText() {
    if (!pendingText.empty()) document.trace += "[" + pendingText + "]";
    pendingText.clear();
  }
};

// A piece as written and the characters it stands for.
struct Piece {
  std::string_view written;
  std::string_view meant;
};

constexpr Piece kTextPieces[] = {{"a", "a"},
                                 {"bc ", "bc "},
                                 {"\t", "\t"},
                                 {"\n", "\n"},
                                 {"\r\n", "\n"},
                                 {"\rx", "\nx"},
                                 {"\xC3\xA9", "\xC3\xA9"},
                                 {"\xE2\x82\xAC", "\xE2\x82\xAC"},
                                 {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
                                 {"&amp;", "&"},
                                 {"&lt;", "<"},
                                 {"&#x20AC;", "\xE2\x82\xAC"},
                                 {"&#128512;", "\xF0\x9F\x98\x80"},
                                 {"&#13;", "\r"},
                                 {"<![CDATA[<&\r\n]]>", "<&\n"},
                                 {"<![CDATA[]]>", ""},
                                 {"<!-- c -->", ""},
                                 {"<?p d?>", ""},
                                 {">", ">"},
                                 {"]]", "]]"}};

constexpr Piece kValuePieces[] = {{"v", "v"},
                                  {" ", " "},
                                  {"\t", " "},
                                  {"\r\n", " "},
                                  {"&#9;", "\t"},
                                  {"&quot;", "\""},
                                  {"&amp;", "&"},
                                  {">", ">"},
                                  {"'", "'"},
                                  {"\xC3\xA9", "\xC3\xA9"},
                                  {"&#x1F600;", "\xF0\x9F\x98\x80"}};

constexpr std::string_view kNames[] = {"c", "x:row", "v", "\xC3\xA9", "a.b-c_d", "sheetData"};

void GenerateElement(DocumentGenerator& generator, int levelsLeft, std::size_t width) {
  const std::string_view name = kNames[generator.Below(std::size(kNames))];
  generator.FlushText();
  generator.document.xml += "<" + std::string(name);
  generator.document.trace += "<" + std::string(name);
  for (std::size_t attribute = generator.Below(4); attribute > 0; --attribute) {
    const std::string attributeName =
        (attribute % 2 == 0 ? "p:n" : "n") + std::to_string(attribute);
    generator.document.xml += " " + attributeName + "=\"";
    generator.document.trace += " " + attributeName + "='";
    for (std::size_t piece = generator.Below(6); piece > 0; --piece) {
      const Piece& chosen = kValuePieces[generator.Below(std::size(kValuePieces))];
      generator.document.xml += chosen.written;
      generator.document.trace += chosen.meant;
    }
    generator.document.xml += "\"";
    generator.document.trace += "'";
  }
  generator.document.trace += ">";
  const std::size_t contentPieces = generator.Below(levelsLeft > 0 ? width : 4);
  if (contentPieces == 0 && generator.Below(2) == 0) {
    generator.document.xml += "/>";
  } else {
    generator.document.xml += ">";
    for (std::size_t piece = 0; piece < contentPieces; ++piece) {
      if (levelsLeft > 0 && generator.Below(2) == 0) {
        GenerateElement(generator, levelsLeft - 1, width);
        continue;
      }
      const Piece& chosen = kTextPieces[generator.Below(std::size(kTextPieces))];
      generator.document.xml += chosen.written;
      generator.pendingText += chosen.meant;
    }
    generator.document.xml += "</" + std::string(name) + ">";
  }
  generator.FlushText();
  generator.document.trace += "</" + std::string(name) + ">";
}

GeneratedDocument GenerateDocument(std::uint32_t seed, int levels, std::size_t width) {
  DocumentGenerator generator{std::mt19937(seed), {}, {}};
  constexpr std::string_view kProlog[] = {"", "\xEF\xBB\xBF", "<?xml version=\"1.0\"?>\n",
                                          "<!-- made by a test -->\r\n<?p?> "};
  generator.document.xml += kProlog[generator.Below(std::size(kProlog))];
  GenerateElement(generator, levels, width);
  constexpr std::string_view kEpilog[] = {"", "\n", " <!-- after --> <?q r?>\r\n"};
  generator.document.xml += kEpilog[generator.Below(std::size(kEpilog))];
  generator.document.trace += "$";
  return generator.document;
}

// The events do not depend on how the source cuts the document: whole, a byte at a time, or in
// random pieces, including documents much longer than the reader's buffer.
TEST(XmlReaderTest, EventsDoNotDependOnHowTheSourceCutsTheDocument) {
  std::mt19937 cuts(7);
  for (std::uint32_t seed = 0; seed < 300; ++seed) {
    const bool large = seed % 50 == 0;  // hundreds of KB: many refills of the buffer
    const GeneratedDocument document = GenerateDocument(seed, large ? 6 : 4, large ? 16 : 6);
    ASSERT_EQ(Trace(WholeSource(document.xml)), document.trace) << document.xml;
    ASSERT_EQ(Trace(PiecewiseSource(document.xml, [] { return std::size_t{1}; })), document.trace);
    const std::size_t mostPiece = seed % 2 == 0 ? 13 : 100000;
    ASSERT_EQ(Trace(PiecewiseSource(document.xml,
                                    [&cuts, mostPiece] {
                                      return std::uniform_int_distribution<std::size_t>(
                                          1, mostPiece)(cuts);
                                    })),
              document.trace);
  }
}

TEST(XmlReaderTest, LongTextsAndValuesCrossBufferRefills) {
  const std::string text(3 * kXmlBufferSize + 17, 't');
  const std::string value(60000, 'v');
  const std::string document = "<a v=\"" + value + "\">" + text + "&amp;</a>";
  EXPECT_TRUE(Trace(WholeSource(document)) == "<a v='" + value + "'>[" + text + "&]</a>$");
}

// Text up to the bound is read; one byte more, whether written plainly, as a reference or in a
// CDATA section, is refused.
TEST(XmlReaderTest, TextIsBoundedByMostTextBytes) {
  EXPECT_EQ(Trace(WholeSource("<a>12345678</a>"), 8), "<a>[12345678]</a>$");
  EXPECT_EQ(Trace(WholeSource("<a>1234567&#x20AC;</a>"), 10), "<a>[1234567\xE2\x82\xAC]</a>$");
  for (const char* document : {"<a>123456789</a>", "<a>12345678&amp;</a>", "<a>1234567&#x20AC;</a>",
                               "<a>12345<![CDATA[678]]>9</a>", "<a>1234<!-- -->56789</a>"}) {
    EXPECT_THROW(Trace(WholeSource(document), 8), XmlFailure) << document;
  }
}

std::string Repeated(std::string_view text, int count) {
  std::string repeated;
  for (int time = 0; time < count; ++time) {
    repeated += text;
  }
  return repeated;
}

std::string ManyAttributes(int count, std::string_view last) {
  std::string tag = "<a";
  for (int attribute = 0; attribute < count; ++attribute) {
    tag += " n" + std::to_string(attribute) + "=''";
  }
  return tag + std::string(last) + "/>";
}

TEST(XmlReaderTest, TheDeepestNestingAndMostAttributesAreRead) {
  const std::string deep = Repeated("<d>", 256) + Repeated("</d>", 256);
  EXPECT_EQ(Trace(deep), deep + "$");
  EXPECT_TRUE(Trace(ManyAttributes(1000, "")).ends_with(" n999=''></a>$"));
  const std::string name(64 * 1024, 'n');
  EXPECT_TRUE(Trace("<" + name + "/>") == "<" + name + "></" + name + ">$");
  const std::string value(64 * 1024, 'v');
  EXPECT_TRUE(Trace("<a v='" + value + "'/>") == "<a v='" + value + "'></a>$");
}

// A start tag longer than the buffer: its name and the attributes read before the buffer moved
// are still theirs, whole, when the tag's event comes, and a text after it as well.
TEST(XmlReaderTest, ATagLongerThanTheBufferKeepsItsNameAndValues) {
  std::string document = "<sheet";
  std::string expected = "<sheet";
  for (int attribute = 0; attribute < 900; ++attribute) {
    // Values as written, which stay in the buffer, and values with a reference, which do not.
    const std::string name = "p:a" + std::to_string(attribute);
    const std::string value = Repeated(std::to_string(attribute) + "v", 40);
    const std::string end = std::to_string(attribute * 7);
    const bool plain = attribute % 2 == 0;
    document += " " + name + "='" + value + (plain ? "" : "&amp;") + end + "'";
    expected += " " + name + "='" + value + (plain ? "" : "&") + end + "'";
  }
  ASSERT_GT(document.size(), 2 * kXmlBufferSize);
  document += ">" + Repeated("text ", 20000) + "</sheet>";
  expected += ">[" + Repeated("text ", 20000) + "]</sheet>$";
  EXPECT_TRUE(Trace(WholeSource(document)) == expected);
  EXPECT_TRUE(Trace(PiecewiseSource(document, [] { return std::size_t{1000}; })) == expected);
}

// A document the reader refuses, and words its failure names.
struct RefusedCase {
  std::string document;
  std::string_view reason;
};

TEST(XmlReaderTest, MalformedAndHostileDocumentsAreRefused) {
  const RefusedCase cases[] = {
      {"<!DOCTYPE a><a/>", "document type"},
      {"<?xml version=\"1.0\"?>\n<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>", "document type"},
      {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>", "ISO-8859-1 is not UTF-8"},
      {"<?xml version=\"1.0\" encoding=UTF-8?><a/>", "damaged XML declaration"},
      {"<?xml version='1.0' encoding='UTF-8\n'?><a/>", "damaged XML declaration"},
      {"\xFF\xFE<\0a\0/\0>\0"s, "UTF-16"},
      {"\0<\0a\0/\0>"s, "UTF-16"},
      {"<\0a\0/\0>\0"s, "UTF-16"},
      {"\0\0\xFE\xFF\0\0\0<"s, "UTF-16"},
      {"", "empty document"},
      {" \r\n\t", "empty document"},
      {"<?xml version=\"1.0\"?><!-- nothing -->", "empty document"},
      {"<a></b>", "</b> does not close <a>"},
      {"<ab></a>", "</a> does not close <ab>"},
      {"<a></ab>", "</ab> does not close <a>"},
      {"<a></a\xC3\xA9>", "</a\xC3\xA9> does not close <a>"},
      {"<a></a:>", "</a:> does not close <a>"},
      {"<" + std::string(40, 'n') + "></" + std::string(39, 'n') + ">", "does not close <nnn"},
      {"<" + std::string(40, 'n') + "></" + std::string(40, 'n') + "x >", "does not close <nnn"},
      {"<a><b></b>", "<a> is not closed"},
      {"<a", "ends inside a tag"},
      {"<a b", "'=' expected"},
      {"<a b=", "quoted attribute value expected"},
      {"<a b='1", "attribute value not closed"},
      {"<a b=1/>", "quoted attribute value expected"},
      {"<a b='1'c='2'/>", "whitespace expected before an attribute"},
      {"<a/ >", "'/' not followed by '>'"},
      {"<a></a", "'>' expected in an end tag"},
      {"<1a/>", "name expected"},
      {"</a>", "end tag outside the root"},
      {"<a>&nbsp;</a>", "undefined entity"},
      {"<a>&amp</a>", "starts no reference"},
      {"<a v='&lt'/>", "starts no reference"},
      {"<a>&#0;</a>", "character XML forbids"},
      {"<a>&#xD800;</a>", "character XML forbids"},
      {"<a>&#xFFFE;</a>", "character XML forbids"},
      {"<a>&#x110000;</a>", "character XML forbids"},
      {"<a>&#99999999999;</a>", "character XML forbids"},
      {"<a>&#X41;</a>", "character XML forbids"},
      {"<a>&#4a;</a>", "character XML forbids"},
      {"x<a/>", "text before the root"},
      {"<a/>x", "text after the root"},
      {"<a/><b/>", "element after the root"},
      {"<a/></a>", "end tag outside the root"},
      {"<a/><![CDATA[x]]>", "declaration outside the root"},
      {"<a><!ENTITY e 'x'></a>", "declaration inside an element"},
      {"<a><!DOCTYPE a></a>", "declaration inside an element"},
      {Repeated("<d>", 257), "deeper than 256"},
      {Repeated("<d>", 10000), "deeper than 256"},
      {ManyAttributes(1001, ""), "more than 1000 attributes"},
      {"<" + std::string(64 * 1024 + 1, 'n') + "/>", "a name longer than 65536 bytes"},
      {"<a v='" + std::string(64 * 1024 + 1, 'v') + "'/>", "attribute value longer than 65536"},
      {"<a v='" + Repeated("&#x20AC;", 22000) + "'/>", "attribute value longer than 65536"},
      {"<a x='1' x='2'/>", "duplicate attribute x"},
      {"<a p:x='1' x='2' p:x='3'/>", "duplicate attribute p:x"},
      {ManyAttributes(20, " n7=''"), "duplicate attribute n7"},
      {"<a v='<'/>", "'<' in an attribute value"},
      {"<a>\xC3</a>", "invalid UTF-8"},
      {"<a>\xC0\xAF</a>", "invalid UTF-8"},
      {"<a>\xED\xA0\x80</a>", "invalid UTF-8"},
      {"<a>\xF4\x90\x80\x80</a>", "invalid UTF-8"},
      {"<a>\xEF\xBF\xBE</a>", "invalid UTF-8"},
      {"<a>\xC3\xA9\xC3", "invalid UTF-8"},
      {"<a\xFF/>", "invalid UTF-8"},
      {"<a v='\xE9'/>", "invalid UTF-8"},
      {"<a><![CDATA[\xE9]]></a>", "invalid UTF-8"},
      {"<a>\x01</a>", "control character"},
      {"<a>\0</a>"s, "control character"},
      {" <?xml version=\"1.0\"?><a/>", "XML declaration that does not open"},
      {"<a><?xml version='1.0'?></a>", "XML declaration that does not open"},
      {"<a><!-- a -- b --></a>", "'--' inside a comment"},
      {"<a><!-- ", "comment not closed"},
      {"<a><![CDATA[x", "CDATA section not closed"},
      {"<a><?p x", "processing instruction not closed"},
      {"<a><?p x?", "processing instruction not closed"},
      {"<a><?p?x</a>", "whitespace expected after a processing target"},
      {"<a><?p&?></a>", "whitespace expected after a processing target"},
  };
  for (const RefusedCase& test : cases) {
    for (const std::size_t piece : {kXmlBufferSize, std::size_t{1}}) {
      try {
        Trace(PiecewiseSource(test.document, [piece] { return piece; }));
        ADD_FAILURE() << "read: " << test.document.substr(0, 80);
      } catch (const XmlFailure& failure) {
        EXPECT_TRUE(failure.message.starts_with("is not well-formed XML at byte "))
            << failure.message;
        EXPECT_NE(failure.message.find(test.reason), std::string::npos)
            << failure.message << " for " << test.document.substr(0, 80);
      }
    }
  }
}

// The classic entity bomb is refused at its document type declaration, before any entity.
TEST(XmlReaderTest, EntityBombIsRefusedAtItsDocumentType) {
  std::string bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n<!ENTITY lol \"lol\">\n";
  for (int level = 1; level < 10; ++level) {
    std::string reference = "&lol";
    if (level > 1) reference += std::to_string(level - 1);
    reference += ';';
    bomb += "<!ENTITY lol";
    bomb += std::to_string(level);
    bomb += " \"";
    bomb += Repeated(reference, 10);
    bomb += "\">\n";
  }
  bomb += "]>\n<lolz>&lol9;</lolz>";
  try {
    Trace(bomb);
    ADD_FAILURE() << "the bomb was read";
  } catch (const XmlFailure& failure) {
    EXPECT_EQ(failure.message,
              "is not well-formed XML at byte 22: a document type declaration, which is refused");
  }
}

// A failure names the offset of the byte where reading stopped, across refills too.
TEST(XmlReaderTest, FailuresNameTheirByte) {
  const std::string document = "<a>" + std::string(2 * kXmlBufferSize, 't') + "&bad;</a>";
  try {
    Trace(PiecewiseSource(document, [] { return std::size_t{1000}; }));
    ADD_FAILURE() << "read";
  } catch (const XmlFailure& failure) {
    EXPECT_EQ(failure.message, "is not well-formed XML at byte " +
                                   std::to_string(3 + 2 * kXmlBufferSize) +
                                   ": an undefined entity");
  }
}

}  // namespace
