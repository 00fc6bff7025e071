// Spell databases for the whole-program tests of grimdex, with their expected tables.
#include "database_cases.h"

#include "damaged_nodes.h"

namespace {

constexpr std::string_view kPrototypes = "SpellPrototypes.txt";
constexpr std::string_view kModifiers = "SpellModifiers.txt";

std::string FullPrototype() {
  return Record({
      Field(0, Text("Fireball")),
      Field(1, Text("FB01")),
      Field(2, Text("missile")),
      Field(3, Float(1500)),
      Field(4, Int(0)),
      Field(5, Float(12.5f)),
      Field(6, Int(3)),
      Field(7, Float32BitsPayload(0x3DCCCCCD)),  // nearest to 0.1
      Field(8, Float32BitsPayload(0x3F2AAAAB)),  // nearest to 2/3
      Field(9, Float(0.0078125f)),
      Field(10, Float(-2.5f)),
      Field(11, Text("enemy")),
      Field(12, Int(1)),
      Field(13, Int(0)),
      Field(14, Int(-1)),
      Field(15, Int(2147483647)),
      Field(16, TextListPayload({"burn", "blast"})),
      Field(17, TextListPayload({"echo"})),
      Field(18, Int(7)),
      Field(19, Int(42)),
      Field(20, ByteQuintuplePayload({0, 1, 255, 16, 5})),
      Field(21, Int(4)),
      Field(22, ShopFlagsPayload(0x05)),
      Field(23, Float(1.0f)),
      Field(24, Float(0.5f)),
      Field(25, Float(0.0f)),
      Field(26, Float32BitsPayload(0x47F12065)),  // nearest to 123456.789
      Field(27, Float32BitsPayload(0x3F7FFFFE)),  // nearest to 0.9999999
  });
}

constexpr std::string_view kFullPrototypeLine =
    "Fireball\tFB01\tmissile\t1500\telemental\t12.5\t3\t0.1\t0.666667\t0.007813\t-2.5\tenemy\t"
    "1\t0\t-1\t2147483647\tburn, blast\techo\t7\t42\t0\t1\t255\t16\t5\t4\t1\t\t1\t\t\t"
    "255,128,0\t123456.789063\t1";

// A database node of kind 1 around the given tables.
std::string SpellDatabase(std::initializer_list<std::string> tables) {
  return Node(1, tables);
}

// The same content with every node in the long length form.
std::string LongFormPrototypeDatabase() {
  NodeWriter writer;
  BeginNode(writer, 1, LengthForm::Long);
  BeginNode(writer, 1, LengthForm::Long);
  BeginNode(writer, 0, LengthForm::Long);
  AppendNode(writer, 0, Text("Long"), LengthForm::Long);
  AppendNode(writer, 6, Int(5), LengthForm::Long);
  EndNode(writer);
  EndNode(writer);
  EndNode(writer);
  return writer.bytes;
}

// Table and record nodes whose stored lengths are negative: they read no children.
std::string NegativeLengthDatabase() {
  NodeWriter writer;
  BeginNode(writer, 1);
  AppendLongHeader(writer, 1, -1);  // a table with no records; the next table follows
  BeginNode(writer, 1);
  AppendLongHeader(writer, 0, -7);  // a record with no fields: an empty line
  writer.bytes += Record({Field(0, Text("After"))});
  EndNode(writer);
  BeginNode(writer, 3);
  BeginNode(writer, 0);
  AppendNode(writer, 1, Text("P"));
  AppendLongHeader(writer, 2, -2);  // an empty Required column
  AppendNode(writer, 4, Text("9"));
  EndNode(writer);
  EndNode(writer);
  EndNode(writer);
  return writer.bytes;
}

// A shop flag field whose stored length is 1: four bytes are taken all the same, the next
// headers are read from there, and the move to the record's end puts the reader right again.
std::string OverrunningPrototypeTable() {
  return Node(1, {Record({Field(0, Text("N")), NodeBytes(22, "\x01"), Field(3, Float(2))}),
                  Record({Field(0, Text("Next"))})});
}

// A composed-spell record of Required lists whose one element each reads 127 bytes past the
// list's two payload bytes, the walk moving back to every field's end: far more row text than
// record bytes. A last list's second element begins at the record's last byte and reads its
// length byte and 127 more past the record, into bytes after the database node, of which
// `bytesAfter` are there.
constexpr std::size_t kListsReadingPast = 100;
constexpr std::string_view kListReadingPast = "\x02\x04\x01\xFE";
constexpr std::string_view kLastListReadingPast("\x02\x06\x01\x00\x01", 5);

std::string ListsReadingPastTheirFieldsFields() {
  std::string fields;
  for (std::size_t index = 0; index < kListsReadingPast; ++index)
    fields += kListReadingPast;
  return fields + std::string(kLastListReadingPast);
}

std::string BytesAfterListsReadingPast(std::size_t count) {
  std::string bytes = "\xFE";  // the last element's length byte: 127 bytes follow
  for (std::size_t index = 1; index < count; ++index)
    bytes += static_cast<char>('a' + index % 26);
  return bytes;
}

std::string ListsReadingPastTheirFields(std::size_t bytesAfter) {
  return SpellDatabase({Node(3, {NodeBytes(0, ListsReadingPastTheirFieldsFields())})}) +
         BytesAfterListsReadingPast(bytesAfter);
}

// Every list's text: the 126 bytes after its payload (the element's last byte is dropped),
// the last list's after a comma for its empty first element; NULs removed.
std::string ListsReadingPastTheirFieldsLine() {
  const std::string stream = ListsReadingPastTheirFieldsFields() + BytesAfterListsReadingPast(128);
  std::string line;
  for (std::size_t index = 0; index < kListsReadingPast; ++index) {
    line += '\t';
    line.append(stream, (index + 1) * kListReadingPast.size(), 126);
  }
  line += "\t,";
  line.append(stream, stream.size() - 127, 126);
  std::erase(line, '\0');
  return line;
}

std::string Truncated(std::string database, std::size_t cutBefore) {
  database.resize(database.size() - cutBefore);
  return database;
}

}  // namespace

std::vector<DatabaseCase> SpellCases() {
  const std::string twoPrototypes = SpellDatabase({Node(1, {
                                                               Record({Field(0, Text("First"))}),
                                                               Record({Field(0, Text("Second"))}),
                                                           })});
  return {
      {"empty", "", {}},
      {"full_prototype",
       SpellDatabase({Node(
           1, {FullPrototype(),
               Record({Field(0, Text("Frost")), Field(1, Text("FR")), Field(3, Float(0.5f))})})}),
       {{std::string(kPrototypes), Lines({kFullPrototypeLine, "Frost\tFR\t0.5"})}}},
      {"school_names",
       SpellDatabase({Node(1, {Record({Field(0, Text("a")), Field(4, Int(0))}),
                               Record({Field(0, Text("b")), Field(4, Int(1))}),
                               Record({Field(0, Text("c")), Field(4, Int(2))}),
                               Record({Field(0, Text("d")), Field(4, Int(3))}),
                               Record({Field(0, Text("e")), Field(4, Int(-1))})})}),
       {{std::string(kPrototypes),
         Lines({"a\telemental", "b\tsenses", "c\tastral", "d\t", "e\t"})}}},
      {"modifier",
       SpellDatabase(
           {Node(2, {Record({Field(0, Text("Burn")), Field(1, Text("BRN")), Field(2, Float(250)),
                             Field(3, Int(2)), Field(4, Float(0.25f)), Field(5, Float(1.5f)),
                             Field(6, Int(1)), Field(7, TextListPayload({"town", "camp"})),
                             Field(8, ShopFlagsPayload(0x1F))})})}),
       {{std::string(kModifiers),
         Lines({"Burn\tBRN\t250\t2\t0.25\t1.5\t1\ttown, camp\t1\t1\t1\t1\t1"})}}},
      {"composed",
       SpellDatabase({
           Node(3, {Record({Field(1, Text("Fireball")), Field(9, Text("junk")),
                            Field(2, TextListPayload({"a", "b"})), Field(0, Text("hidden")),
                            Field(3, TextListPayload({"c"})), Field(4, Text("3")),
                            Field(5, ShopFlagsPayload(0x03))}),
                    Record({Field(1, Text("Axe")), NodeBytes(5, "\x01"), Field(4, Text("7"))})}),
           Node(4, {Record({Field(1, Text("Shield")), Field(4, Text("5"))})}),
           Node(5, {Record({})}),
       }),
       {{"S_Spells.txt", Lines({"Fireball\ta,b\tc\t3\t1\t1\t\t\t", "Axe\t1\t\t\t\t\t7"})},
        {"S_Armors.txt", Lines({"Shield\t5"})},
        {"S_Weapons.txt", Lines({""})}}},
      {"database_kind_0", Node(0, {Node(1, {Record({Field(0, Text("Hidden"))})})}), {}},
      {"database_kind_2", Node(2, {Node(3, {Record({Field(1, Text("Hidden"))})})}), {}},
      {"second_database_node_ignored",
       SpellDatabase({Node(1, {Record({Field(0, Text("A"))})})}) +
           SpellDatabase({Node(1, {Record({Field(0, Text("B"))})})}) + "\x01\x7F",
       {{std::string(kPrototypes), Lines({"A"})}}},
      {"empty_records",
       SpellDatabase({Node(3, {Record({}), Record({})}), Node(1, {Record({})})}),
       {{"S_Spells.txt", Lines({"", ""})}, {std::string(kPrototypes), Lines({""})}}},
      {"table_kind_6",
       SpellDatabase({Node(6, {Record({Field(0, Text("X")), Field(3, Float(1))})}),
                      Node(1, {Record({Field(0, Text("Y"))})})}),
       {{std::string(kPrototypes), Lines({"Y"})}}},
      {"unknown_codes",
       SpellDatabase(
           {Node(1, {Record({Field(0, Text("Name")), Field(28, Int(0x01020304)),
                             Field(200, Text("zz")), Field(3, Float(2))})}),
            Node(2, {Record({Field(0, Text("M")), Field(9, Text("zzz")), Field(6, Int(5))})})}),
       {{std::string(kPrototypes), Lines({"Name\t2"})},
        {std::string(kModifiers), Lines({"M\t5"})}}},
      {"repeated_and_out_of_order",
       SpellDatabase({Node(1, {Record({Field(3, Float(1500)), Field(0, Text("A")),
                                       Field(0, Text("B")), Field(1, Text("C"))})})}),
       {{std::string(kPrototypes), Lines({"\t1500AB\tC"})}}},
      {"overrunning_lengths",
       SpellDatabase({OverrunningPrototypeTable()}),
       {{std::string(kPrototypes), Lines({"N\t1\t\t\t\t", "Next"})}}},
      {"long_length_forms",
       LongFormPrototypeDatabase(),
       {{std::string(kPrototypes), Lines({"Long\t5"})}}},
      {"negative_lengths",
       NegativeLengthDatabase(),
       {{std::string(kPrototypes), Lines({"", "After"})}, {"S_Spells.txt", Lines({"P\t\t9"})}}},
      {"negative_database_length", std::string("\x01\xFF\xFF\xFF\xFF", 5) + twoPrototypes, {}},
      {"lists_reading_far_past_their_fields",
       ListsReadingPastTheirFields(128),
       {{"S_Spells.txt", Lines({ListsReadingPastTheirFieldsLine()})}}},
      {"list_reading_past_the_file_end",
       ListsReadingPastTheirFields(127),
       {},
       1,
       ReadBeyondEndReport("grimdex")},
      {"truncated_in_a_record",
       Truncated(twoPrototypes, 3),
       {{std::string(kPrototypes), Lines({"First"})}},
       1,
       ReadBeyondEndReport("grimdex")},
      {"truncated_between_records",
       Truncated(twoPrototypes, 11),
       {{std::string(kPrototypes), Lines({"First"})}},
       1,
       ReadBeyondEndReport("grimdex")},
  };
}
