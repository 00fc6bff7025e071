// Fuzz target: any bytes as a workbook source of the spell packer, either the whole file or the
// part of its first sheet inside an otherwise sound workbook. Reading must end with the tables'
// text or with a PackFailure, and never crash, hang or take memory out of proportion.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_support.h"
#include "pack_plan.h"
#include "spell_walker.h"
#include "workbook_source.h"
#include "zip_archive.h"

namespace {

constexpr char kPath[] = "/tmp/workbook-read-fuzz.xlsx";

// The other parts of a workbook of the spell tables, each sheet with its header row alone.
void WriteParts(ZipWriter& zip, std::string_view firstSheet) {
  const auto add = [&](std::string_view name, std::string_view text) {
    BeginZipEntry(zip, name);
    AppendZipEntry(zip, text);
    EndZipEntry(zip);
  };
  add("[Content_Types].xml",
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>");
  add("_rels/.rels",
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
      "relationships/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
  std::string sheets;
  std::string relationships;
  for (std::size_t index = 0; index < kSpellFormat.tables.size(); ++index) {
    const std::string id = std::to_string(index + 1);
    std::string name(kSpellFormat.tables[index].fileName);
    name.resize(name.size() - 4);
    sheets += "<sheet name=\"" + name + "\" sheetId=\"" + id + "\" r:id=\"rId" + id + "\"/>";
    relationships += "<Relationship Id=\"rId" + id +
                     "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                     "relationships/worksheet\" Target=\"worksheets/sheet" +
                     id + ".xml\"/>";
    std::string header = "<worksheet><sheetData><row>";
    std::string_view row = kSpellFormat.tables[index].headerRow;
    while (!row.empty()) {
      const std::size_t tab = std::min(row.find('\t'), row.size());
      header += "<c t=\"inlineStr\"><is><t>" + std::string(row.substr(0, tab)) + "</t></is></c>";
      row.remove_prefix(std::min(tab + 1, row.size()));
    }
    header += "</row></sheetData></worksheet>";
    add("xl/worksheets/sheet" + id + ".xml", index == 0 ? firstSheet : std::string_view(header));
  }
  add("xl/workbook.xml",
      "<workbook xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
      "<sheets>" +
          sheets + "</sheets></workbook>");
  add("xl/_rels/workbook.xml.rels",
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" +
          relationships + "</Relationships>");
}

void WriteInput(std::span<const std::uint8_t> bytes) {
  PlatformFile file;
  RequireInvariant(CreateFileForWriting(kPath, file) == 0, "the scratch workbook is created");
  const std::string_view text(reinterpret_cast<const char*>(bytes.data() + 1), bytes.size() - 1);
  if (bytes[0] % 2 == 0) {
    RequireInvariant(WriteFileFully(file, text.data(), text.size()) == 0, "the input is written");
  } else {
    ZipWriter zip;
    StartZip(zip, file, 1);
    WriteParts(zip, text);
    FinishZip(zip);
    CloseZipWriter(zip);
  }
  static_cast<void>(CloseFile(file));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  WriteInput({data, size});
  const PackRules rules{kSpellFormat.tables, &kSpellFormat.walk};
  PlatformFile file;
  RequireInvariant(OpenFileForReading(kPath, file), "the scratch workbook opens");
  try {
    WorkbookTables tables;
    ReadWorkbookTables(kPath, file, rules, '.', 0, tables);
    RequireInvariant(tables.texts.size() == rules.tables.size(), "every table has its text");
  } catch (const PackFailure&) {
    // Refused with its problems: as it should be.
  } catch (const IoFailure&) {
    // The scratch file cannot be read: not the input's doing.
  }
  static_cast<void>(CloseFile(file));
  return 0;
}
