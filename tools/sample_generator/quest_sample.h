// The sample quest database: briefings and quests in two database nodes, as an expansion adds.
#pragma once

#include <string>

// The bytes of samples/quests.qdb: a first database node with 16 briefings (codes 0 to 7) and 30
// quests (codes 0 to 10), and a second database node with 4 briefings and 10 quests; both nodes
// have kind 1, so every record reaches a table. The same bytes on every run and platform.
std::string QuestSampleDatabase();
