// The sample quest database, invented for the project: a fantasy game's briefings and quests.
#include "quest_sample.h"

#include <cstdint>
#include <span>
#include <string_view>

#include "code_page_text.h"
#include "node_writer.h"
#include "sample_lists.h"

namespace {

struct BriefingRow {
  std::string_view name;  // UTF-8; Cyrillic letters are stored in Windows-1251
  float exp;
  float expTotal;
  std::int32_t zone;
  std::string_view description;
  float money;
  std::int32_t scriptNumber;    // read by the game, not unpacked
  std::string_view scriptName;  // read by the game, not unpacked
};

// clang-format off
constexpr BriefingRow kBriefings[] = {
    {"Arrival at Greyhollow", 0, 0, 1, "A fishing village at the edge of the marsh. The elder waits by the well.", 50, 1, "brief_arrival"},
    {"The Flooded Road", 150, 150, 1, "Spring floods cut the road to Ashen Ford. Find another way across the marsh.", 25, 2, "brief_road"},
    {"Ashen Ford", 300, 450, 2, "A ferry town rebuilt three times after three fires. Its people trust no mage.", 75, 3, "brief_ford"},
    {"Smugglers of the Marrow Coast", 450, 900, 3, "Boats land at night below the cliffs, and the watch looks the other way.", 120, 4, "brief_smugglers"},
    {"Into Thornwood", 600, 1500, 4, "The old forest closes behind every traveller. Mark the trees as you go.", 0, 5, "brief_thornwood"},
    {"The Witch of Saltmere", 2.5f, 1502.5f, 5, "She trades cures for memories. Pay her in coin, if she will take it.", 12.75f, 6, "brief_witch"},
    {"Iron Pass", 800, 2302.5f, 6, "The dwarven toll gate stands open and unguarded. Nobody has come out of the pass for a month, and the last caravan to go in carried the winter's grain for half the valley.", 200, 7, "brief_pass"},
    {"The Drowned Abbey", 950, 3252.5f, 7, "Monks once kept the great library here, before the sea came in.", 150, 8, "brief_abbey"},
    {"Frostmoor", 1100, 4352.5f, 8, "Nothing grows on the moor but frost and rumours.", 90, 9, "brief_frostmoor"},
    {"Северный тракт", 1250, 5602.5f, 9, "Северная дорога ведёт к перевалу. Купцы платят за охрану.", 300, 10, "brief_north_road"},
    {"Ravencliff Keep", 1500, 7102.5f, 10, "The lord of Ravencliff has not been seen in public since the eclipse.", 500, 11, "brief_keep"},
    {"The Sunken Library", 0.666667f, 7103.17f, 11, "Half of the library lies under water; the other half lies under a curse.", 0.1f, 12, "brief_library"},
    {"Embers of Emberfall", 1750, 8853.17f, 12, "A town built on a sleeping volcano. The ground has started to hum.", 650, 13, "brief_emberfall"},
    {"The Gathering Storm", 2000, 10853.2f, 10, "Every ally you made is needed now. Ride to Ravencliff before the storm breaks.", 1000, 14, "brief_storm"},
    {"Ведьмин круг", 2250, 13103.2f, 5, "Круг из камней на болоте светится в полнолуние.", 400, 15, "brief_circle"},
    {"The Last Eclipse", 5000, 18103.2f, 10, "The sun goes dark over Ravencliff. What was sealed under the keep is awake, and it remembers the names of everyone who sealed it.", 1500000, 16, "brief_eclipse"},
};
// clang-format on

// clang-format off
constexpr BriefingRow kExpansionBriefings[] = {
    {"The Frozen Isles", 0, 0, 13, "A new sea route opens north of Frostmoor once the ice breaks.", 100, 17, "brief_isles"},
    {"Harbour of Bones", 600, 600, 14, "Whalers built this harbour from what the sea gave them.", 250, 18, "brief_harbour"},
    {"The Glacier Temple", 1200, 1800, 15, "Priests of the old sun keep a fire that has burned for nine hundred years.", 400, 19, "brief_temple"},
    {"Белая мгла", 2400, 4200, 16, "Метель не кончается уже третью неделю.", 800, 20, "brief_whiteout"},
};
// clang-format on

struct QuestRow {
  std::string_view name;
  std::int32_t exp;
  float money;
  std::string_view items;  // lists separated by ';'
  std::string_view description;
  std::string_view removeItems;
  std::string_view giveQuests;
  std::string_view completeQuests;
  std::string_view availableZones;
  std::string_view completeZones;
  std::int32_t special;
};

// The description that stands for the chronicle quest: many paragraphs in one text.
constexpr std::string_view kChronicleParagraphs[] = {
    "The chronicle begins with the founding of Greyhollow by the fishermen of the southern shore, "
    "who came north after the long drought and found the marsh full of eels and the sea full of "
    "herring.",
    "For three generations they lived in peace, trading salt and smoked fish with the dwarves of "
    "Iron Pass, who in return forged the hooks, the anchors and the great bell of the abbey.",
    "Then came the first eclipse. The chronicle says that the sun went dark for the time it takes "
    "to say a long prayer, and that when the light returned the bell had rung by itself, seven "
    "times.",
    "The monks of the Drowned Abbey, which was not yet drowned, wrote down everything they saw. "
    "Their library grew until it filled the cliffs below the abbey, room after room cut into the "
    "rock.",
    "Brother Aldous, keeper of the lower rooms, was the first to notice that some of the books "
    "were writing themselves. He sealed those rooms with wax and iron, and wrote a warning above "
    "each door.",
    "The second eclipse brought the sea. Waves rose over the cliffs in one night, the lower "
    "library was lost, and the bell fell silent. The monks who survived went inland and founded "
    "Ashen Ford.",
    "Of the lords of Ravencliff the chronicle says little that is kind. They taxed the ferries, "
    "they hanged the smugglers of the Marrow Coast and they hired witches from Saltmere to read "
    "the stars.",
    "The witches read the stars and told the lord that a third eclipse would come, and that on "
    "that day whatever the monks had sealed would wake. The lord laughed and built his keep over "
    "the sealed rooms.",
    "Here the chronicle breaks off. The last page is torn, and the few words that remain speak of "
    "a key made of frost, a fire that never goes out, and a name that must never be read aloud.",
    "Whoever finds this chronicle should bring it to the Sunken Library, where the last of the "
    "monks still waits. He alone can read the torn page, and he will not read it for anyone he "
    "does not trust.",
    "Bring him proof that you have rung the bell, that you have walked the Iron Pass and come "
    "back, and that the witch of Saltmere has named you a friend. Then he will read, and you will "
    "know what to do.",
    "The chronicle ends with a list of the abbots of the Drowned Abbey, forty names in all, each "
    "in a different hand, the last of them written in ink that has not yet dried.",
};

// clang-format off
constexpr QuestRow kQuests[] = {
    {"Eels for the Elder", 100, 25, "Basket of Eels", "Catch five eels in the marsh for the elder of Greyhollow.", "Basket of Eels", "", "", "Greyhollow", "Greyhollow", 0},
    {"The Flooded Road", 200, 50, "", "Find a way across the flooded marsh road to Ashen Ford.", "", "Ferryman's Debt", "", "Greyhollow", "Ashen Ford", 0},
    {"Ferryman's Debt", 250, 75, "Ferry Token", "The ferryman will take you across once his debt to the smugglers is paid.", "", "", "The Flooded Road", "Ashen Ford", "Ashen Ford", 0},
    {"Ashes and Embers", 300, 120, "Fire Salt;Fire Salt;Fire Salt", "Gather fire salt from the burned houses so the smith can forge again.", "Fire Salt;Fire Salt;Fire Salt", "", "", "Ashen Ford", "Ashen Ford", 0},
    {"Night Landing", 450, 200, "Smuggler's Lantern", "Watch the cliffs of the Marrow Coast at night and learn who lands the boats.", "", "The Watch Captain", "", "Marrow Coast", "Marrow Coast", 0},
    {"The Watch Captain", 500, 12.75f, "Sealed Letter", "Deliver the smugglers' letter to the captain of the watch, or sell it to the smugglers.", "Sealed Letter", "", "Night Landing", "Marrow Coast;Ashen Ford", "Marrow Coast", 0},
    {"Marked Trees", 350, 60, "Chalk", "Mark the trees of Thornwood so that the woodcutters find their way home.", "Chalk", "", "", "Thornwood", "Thornwood", 0},
    {"The Lost Woodcutters", 600, 180, "", "Three woodcutters went into Thornwood a week ago. Find them, or what is left of them.", "", "Heart of the Forest", "Marked Trees", "Thornwood", "Thornwood", 0},
    {"Heart of the Forest", 900, 400, "Heartwood Seed", "A seed of the oldest tree can drive back the rot that spreads through Thornwood.", "", "", "The Lost Woodcutters", "Thornwood", "Thornwood;Greyhollow", 1},
    {"The Witch's Price", 700, 0.5f, "Memory Vial", "The witch of Saltmere asks for a memory in exchange for her help. Choose which one to give.", "Memory Vial", "", "", "Saltmere", "Saltmere", 0},
    {"Пропавший караван", 800, 350, "Оберег", "Караван с зерном пропал на перевале. Найдите его.", "", "Iron Toll", "", "Iron Pass;Северный тракт", "Iron Pass", 0},
    {"Iron Toll", 850, 500, "Dwarven Key", "The toll gate of Iron Pass is open. Find the dwarves who kept it.", "Dwarven Key", "", "Пропавший караван", "Iron Pass", "Iron Pass", 0},
    {"The Silent Bell", 1000, 250, "Bell Clapper", "Dive into the flooded crypt of the Drowned Abbey and bring back the clapper of the great bell.", "Bell Clapper", "The Abbot's Blessing", "", "Drowned Abbey", "Drowned Abbey", 1},
    {"The Abbot's Blessing", 400, 100, "Holy Water;Holy Water", "Carry holy water to the shrine at the abbey gate.", "Holy Water;Holy Water", "", "The Silent Bell", "Drowned Abbey;Greyhollow", "Drowned Abbey", 0},
    {"Frost and Rumours", 1100, 300, "", "Ask the shepherds of Frostmoor about the lights on the moor.", "", "The Frozen Key", "", "Frostmoor", "Frostmoor", 0},
    {"The Frozen Key", 1300, 650, "Key of Frost", "The shepherds speak of a key of ice that never melts, kept in a cave under the moor.", "", "", "Frost and Rumours", "Frostmoor", "Frostmoor", 1},
    {"Guard the Road", 600, 300, "", "Escort a merchant along the north road to the pass.", "", "", "", "Северный тракт", "Северный тракт;Iron Pass", 0},
    {"An Audience at Ravencliff", 1200, 0, "Letter of Introduction", "Present yourself at the keep. The steward decides who sees the lord.", "Letter of Introduction", "The Steward's Secret", "", "Ravencliff", "Ravencliff", 0},
    {"The Steward's Secret", 1400, 750, "Steward's Ledger", "The steward pays the smugglers. Find his ledger and decide whom to tell.", "", "", "An Audience at Ravencliff", "Ravencliff", "Ravencliff;Marrow Coast", 0},
    {"The Chronicle", 2500, 1000, "Torn Chronicle", "", "Torn Chronicle", "The Torn Page", "", "Sunken Library;Drowned Abbey", "Sunken Library", 1},
    {"The Torn Page", 3000, 1500, "", "The last monk will read the torn page only for someone he trusts.", "", "", "The Chronicle;The Silent Bell;Iron Toll;The Witch's Price", "Sunken Library", "Sunken Library", 1},
    {"Volcano's Hum", 1600, 800, "Humming Stone", "Find out why the ground of Emberfall hums at night.", "Humming Stone", "The Everburning Fire", "", "Emberfall", "Emberfall", 0},
    {"The Everburning Fire", 1800, 900, "Ember of the Mountain", "Bring an ember from the heart of the volcano before the town's fire goes out.", "", "", "Volcano's Hum", "Emberfall", "Emberfall;Ravencliff", 1},
    {"Ведьмин круг", 1700, 1200, "Лунный камень;Оберег", "Разбейте круг камней на болоте до полнолуния.", "Лунный камень", "", "", "Saltmere", "Saltmere", 0},
    {"Allies for the Storm", 2000, 0, "", "Ask every friend you made to stand with Ravencliff when the storm comes.", "", "The Last Eclipse", "Heart of the Forest;The Frozen Key;The Everburning Fire", "Ravencliff;Greyhollow;Ashen Ford;Thornwood;Emberfall", "Ravencliff", 1},
    {"The Last Eclipse", 10000, 1000000, "Key of Frost;Ember of the Mountain;Heartwood Seed", "Go down under the keep when the sun goes dark, and seal again what the monks once sealed. Take the three keys with you: without any one of them the seal will not hold.", "Key of Frost;Ember of the Mountain;Heartwood Seed", "", "Allies for the Storm;The Torn Page", "Ravencliff", "Ravencliff", 2},
    {"Herring Run", 80, 15, "Herring Net", "Help the fishermen bring in the herring before the storm.", "", "", "", "Greyhollow;Marrow Coast", "Greyhollow", 0},
    {"The Ferryman's Daughter", 320, 90, "Silver Ring", "The ferryman's daughter lost her ring in the river. The river wants something in return.", "Silver Ring", "", "", "Ashen Ford", "Ashen Ford", 0},
    {"Wax and Iron", 1500, 600, "Abbey Seal", "Find the seal that Brother Aldous used on the doors of the lower library.", "", "", "The Silent Bell", "Drowned Abbey;Sunken Library", "Sunken Library", 0},
    {"Smoke over Thornwood", 500, 150, "", "Someone is burning the old trees. Follow the smoke.", "", "", "Marked Trees", "Thornwood", "Thornwood", 0},
};
// clang-format on

// clang-format off
constexpr QuestRow kExpansionQuests[] = {
    {"When the Ice Breaks", 600, 300, "Ship's Charter", "Hire a ship in Frostmoor harbour to sail north when the ice breaks.", "Ship's Charter", "Harbour of Bones", "", "Frostmoor", "Frozen Isles", 0},
    {"Harbour of Bones", 800, 450, "", "The whalers will not talk to outsiders. Earn their trust.", "", "", "When the Ice Breaks", "Harbour of Bones", "Harbour of Bones", 0},
    {"Whale Oil", 400, 2.5f, "Barrel of Whale Oil;Barrel of Whale Oil", "Bring two barrels of whale oil to the lighthouse keeper.", "Barrel of Whale Oil;Barrel of Whale Oil", "", "", "Harbour of Bones", "Harbour of Bones", 0},
    {"The Nine Hundred Year Fire", 1500, 900, "Sun Priest's Torch", "The fire of the Glacier Temple is dying. Learn what feeds it.", "", "Key of the Old Sun", "", "Glacier Temple", "Glacier Temple", 1},
    {"Key of the Old Sun", 2000, 1200, "Key of the Old Sun", "The priests keep a second key, the twin of the key of frost.", "", "", "The Nine Hundred Year Fire", "Glacier Temple", "Glacier Temple", 1},
    {"Белая мгла", 2200, 1500, "Тёплый плащ", "Переждите метель и найдите пропавших китобоев.", "", "", "", "Белая мгла;Harbour of Bones", "Белая мгла", 0},
    {"Frozen Letters", 700, 0, "Frozen Letter;Frozen Letter;Frozen Letter;Frozen Letter", "Letters frozen into the ice tell of a ship that never reached the isles.", "", "The Ghost Ship", "", "Frozen Isles", "Frozen Isles", 0},
    {"The Ghost Ship", 2600, 2000, "Captain's Log", "A ship with no crew drifts between the isles. Board it at low tide.", "Captain's Log", "", "Frozen Letters", "Frozen Isles", "Frozen Isles;Harbour of Bones", 1},
    {"Bones for the Harbour", 300, 75, "Whale Bone", "The harbour needs new piers. Bring bones from the beach.", "Whale Bone", "", "", "Harbour of Bones", "Harbour of Bones", 0},
    {"The Second Key", 5000, 250000, "Key of the Old Sun;Key of Frost", "With both keys the seal under Ravencliff can be made whole for good.", "Key of the Old Sun", "", "Key of the Old Sun;The Last Eclipse", "Glacier Temple;Ravencliff", "Ravencliff", 2},
};
// clang-format on

std::string ChronicleDescription() {
  std::string text;
  for (std::string_view paragraph : kChronicleParagraphs) {
    if (!text.empty()) text += ' ';
    text += paragraph;
  }
  return text;
}

void AppendBriefing(NodeWriter& writer, const BriefingRow& row) {
  BeginNode(writer, 0);
  AppendNode(writer, 0, TextPayload(Cp1251FromUtf8(row.name)));
  AppendNode(writer, 1, Float32Payload(row.exp));
  AppendNode(writer, 2, Float32Payload(row.expTotal));
  AppendNode(writer, 3, Int32Payload(row.zone));
  AppendNode(writer, 4, TextPayload(Cp1251FromUtf8(row.description)));
  AppendNode(writer, 5, Float32Payload(row.money));
  AppendNode(writer, 6, Int32Payload(row.scriptNumber));
  AppendNode(writer, 7, TextPayload(row.scriptName));
  EndNode(writer);
}

void AppendQuest(NodeWriter& writer, const QuestRow& row) {
  const std::string description =
      row.description.empty() ? ChronicleDescription() : Cp1251FromUtf8(row.description);
  BeginNode(writer, 0);
  AppendNode(writer, 0, TextPayload(Cp1251FromUtf8(row.name)));
  AppendNode(writer, 1, Int32Payload(row.exp));
  AppendNode(writer, 2, Float32Payload(row.money));
  AppendNode(writer, 3, TextOrListPayload(row.items));
  AppendNode(writer, 4, TextPayload(description));
  AppendNode(writer, 5, TextOrListPayload(row.removeItems));
  AppendNode(writer, 6, ListOrEmptyPayload(row.giveQuests));
  AppendNode(writer, 7, ListOrEmptyPayload(row.completeQuests));
  AppendNode(writer, 8, TextOrListPayload(row.availableZones));
  AppendNode(writer, 9, ListOrEmptyPayload(row.completeZones));
  AppendNode(writer, 10, Int32Payload(row.special));
  EndNode(writer);
}

// A database node of kind 1 with a briefing table (kind 1) and a quest table (kind 2).
void AppendQuestDatabaseNode(NodeWriter& writer, std::span<const BriefingRow> briefings,
                             std::span<const QuestRow> quests) {
  BeginNode(writer, 1, LengthForm::Long);
  BeginNode(writer, 1, LengthForm::Long);
  for (const BriefingRow& row : briefings)
    AppendBriefing(writer, row);
  EndNode(writer);
  BeginNode(writer, 2, LengthForm::Long);
  for (const QuestRow& row : quests)
    AppendQuest(writer, row);
  EndNode(writer);
  EndNode(writer);
}

}  // namespace

std::string QuestSampleDatabase() {
  NodeWriter writer;
  AppendQuestDatabaseNode(writer, kBriefings, kQuests);
  AppendQuestDatabaseNode(writer, kExpansionBriefings, kExpansionQuests);
  return std::move(writer.bytes);
}
