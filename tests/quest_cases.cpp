// Quest databases for the whole-program tests of lorudex, with their expected tables.
#include "database_cases.h"

namespace {

constexpr std::string_view kBriefing = "Briefing.txt";
constexpr std::string_view kQuests = "Quests.txt";

std::string Briefings(std::initializer_list<std::string> records) {
  return Node(1, records);
}
std::string Quests(std::initializer_list<std::string> records) {
  return Node(2, records);
}

std::string FullBriefing() {
  return Record({Field(0, Text("Wolves")), Field(1, Float(2.5f)),
                 Field(2, Float32BitsPayload(0x3DCCCCCD)), Field(3, Int(3)),
                 Field(4, Text("Clear the den")), Field(5, Float(1500)), Field(6, Int(9)),
                 Field(7, Text("note"))});
}

std::string FullQuest() {
  return Record({Field(0, Text("Hunt")), Field(1, Int(-1)), Field(2, Float(2.5f)),
                 Field(3, TextListPayload({"a", "b"})), Field(4, Text("Desc")),
                 Field(5, TextListPayload({"c"})), Field(6, TextListPayload({"q1", "q2"})),
                 Field(7, Text("")), Field(8, TextListPayload({"z1"})),
                 Field(9, TextListPayload({"z2", "z3"})), Field(10, Int(7))});
}

}  // namespace

// The lines of FullBriefing and FullQuest with a given decimal separator.
std::string FullBriefingLine(char separator) {
  return std::string("Wolves\t2") + separator + "5\t0" + separator +
         "100000001490116\t3\tClear the den\t1500";
}

std::string FullQuestLine(char separator) {
  return std::string("Hunt\t-1\t2") + separator + "5\ta,b\tDesc\tc\tq1,q2\t\tz1\tz2,z3\t7";
}

std::vector<DatabaseCase> QuestCases() {
  const std::string twoBriefings =
      Node(1, {Briefings({Record({Field(0, Text("One"))}), Record({Field(0, Text("Two"))})})});
  std::string truncated = twoBriefings;
  truncated.resize(truncated.size() - 2);
  return {
      {"empty", "", {}},
      {"full_records",
       Node(1, {Briefings({FullBriefing()}), Quests({FullQuest()})}),
       {{std::string(kBriefing), Lines({FullBriefingLine('.')})},
        {std::string(kQuests), Lines({FullQuestLine('.')})}}},
      {"briefing_only_code_7",
       Node(1, {Briefings({Record({Field(7, Text("x"))})})}),
       {{std::string(kBriefing), Lines({""})}}},
      {"empty_briefing_record",
       Node(1, {Briefings({Record({})})}),
       {{std::string(kBriefing), Lines({""})}}},
      {"briefings_in_database_kinds_0_and_2",
       Node(0, {Briefings({Record({Field(0, Text("Zero"))})})}) +
           Node(2, {Briefings({Record({Field(0, Text("Two"))})})}),
       {{std::string(kBriefing), Lines({"Zero", "Two"})}}},
      {"quest_in_database_kind_2",
       Node(2, {Quests({Record({Field(0, Text("Lost")), Field(1, Int(5))})})}) +
           Node(1, {Quests({Record({Field(0, Text("Kept"))})})}),
       {{std::string(kQuests), Lines({"Kept"})}}},
      {"two_quest_database_nodes",
       Node(1, {Quests({Record({Field(0, Text("Q1"))})})}) +
           Node(1, {Quests({Record({Field(0, Text("Q2"))})})}),
       {{std::string(kQuests), Lines({"Q1", "Q2"})}}},
      {"table_kind_3_skipped",
       Node(1, {Node(3, {Record({Field(0, Text("x")), Field(5, Int(1))}), Record({})}),
                Briefings({Record({Field(0, Text("After"))})})}),
       {{std::string(kBriefing), Lines({"After"})}}},
      {"briefing_description_with_list_bytes",
       Node(1, {Briefings({Record({Field(0, Text("B")), Field(4, TextListPayload({"a", "b"}))})})}),
       {{std::string(kBriefing), Lines({"B\t\x01\x04"
                                        "a\x01\x04"
                                        "b"})}}},
      {"quest_first_field_code_1",
       Node(1, {Quests({Record({Field(1, Int(5)), Field(0, Text("N"))})})}),
       {{std::string(kQuests), Lines({"\t5N"})}}},
      {"unknown_codes",
       Node(1,
            {Briefings({Record({Field(0, Text("Br")), Field(8, Text("junk")), Field(3, Int(2))})}),
             Quests({Record({Field(0, Text("Qu")), Field(11, Int(3)), Field(10, Int(4))})})}),
       {{std::string(kBriefing), Lines({"Br\t2"})}, {std::string(kQuests), Lines({"Qu\t4"})}}},
      {"truncated",
       truncated,
       {{std::string(kBriefing), Lines({"One"})}},
       1,
       ReadBeyondEndReport("lorudex")},
  };
}
