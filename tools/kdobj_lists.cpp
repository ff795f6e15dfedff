#include "tools/kdobj_lists.h"

namespace qv::tools {
namespace {

struct Format {
  int number;
  const char* name;
  const char* comment;
};

// One data row. Numbers below 100 take a column of six characters, larger ones are followed by
// one blank, so that the rows read as the format header lists them; the name column is padded
// to 24 characters and the comment to 13.
QString FormatRow(const Format& f) {
  QString number = QString::number(f.number);
  number = f.number < 100 ? number.leftJustified(6) : number + QLatin1Char(' ');
  const QString name = QStringLiteral("VRD_%1_FORMAT").arg(QLatin1String(f.name)).leftJustified(24);
  const QString comment = QString::fromUtf8(f.comment).leftJustified(13);
  return number + QStringLiteral("= ") + name + QStringLiteral("/* ") + comment +
         QStringLiteral(" */");
}

void AddGroup(QStringList& rows, const char* heading, std::initializer_list<Format> formats) {
  rows << QStringLiteral("/* %1 */").arg(QLatin1String(heading));
  for (const Format& f : formats) rows << FormatRow(f);
}

QStringList BuildFormatRows() {
  QStringList rows;
  AddGroup(rows, "Formats audio",
           {{0, "AUDIO", "start format audio"},
            {1, "WAV", "WAV"},
            {2, "MIDI", "MIDI"},
            {3, "MP3", "MP3"},
            {4, "IMEL", "iMelody"},
            {5, "MELQUE1", "QUELM melody 1.0"},
            {6, "MELQUE2", "QUELM melody 2.x"},
            {7, "MP4", "MP4"},
            {8, "CMID", "C-MIDI"},
            {9, "SMAF", "SMAF"},
            {10, "MP3P", "MP3-Pro"},
            {11, "DGP", "Digiplug"},
            {12, "EXEN", "Sons pour EXEN"},
            {13, "SILENCE", "melodie silencieuse"},
            {14, "AMR", "format AMR"},
            {15, "MFI", "Melody for I-Mode"},
            {16, "JAVASEQ", "Java Sequence"},
            {17, "AAC", "AAC"},
            {18, "AWB", "AMR wideband"}});
  rows << QString();
  rows << FormatRow({99, "JFTA", "pour test exclusivement"});
  rows << QString();
  AddGroup(rows, "formats image",
           {{100, "IMAGE", "start format image"},
            {101, "WBMP", "WBMP"},
            {102, "BMP", "BMP"},
            {103, "PNG", "PNG"},
            {104, "JPEG", "JPEG"},
            {105, "GIF", "GIF fixe"},
            {106, "TIFF", "TIFF"},
            {107, "PICT", "PICT"},
            {108, "EPS", "EPS"},
            {109, "EMS_GR", "EMS Graphics"},
            {110, "LEGACY_BW", "anciennes images N&B"},
            {111, "CLCD_SH", "format du LCD couleur sharp"},
            {112, "UPCBMP", "format UPCBMP (pour WAP)"},
            {113, "UPCBMP_DATA", "format UPCBMP : donnees sans entete (sortie exclusivement)"},
            {114, "BW", "Noir & Blanc (codage en ligne)"},
            {115, "SIM", "Format des images dans la SIM"},
            {116, "IMGABSTRACT", "Format interne \u00e0 VRD pour VRD_f_MergeObject()"}});
  rows << QString();
  rows << FormatRow({199, "JFTI", "pour test exclusivement"});
  rows << QString();
  AddGroup(rows, "formats animation",
           {{200, "ANIM", "start format animation"},
            {201, "GIFANIM", "GIF anime"},
            {202, "MNG", "MNG"},
            {203, "QL1", "QUELM QL1"},
            {204, "QL2", "QUELM QL2"},
            {205, "EMS_AN", "EMS Animation"},
            {206, "SSA", "SSA Animation"},
            {207, "MJPEG", "MJPEG Animation"}});
  rows << QString();
  rows << FormatRow({219, "JFTM", "pour test exclusivement"});
  rows << QString();
  AddGroup(rows, "formats pour appli",
           {{220, "VCARD", "vCard"},
            {221, "VCAL", "vCal"},
            {222, "CG", "Call Group"},
            {223, "VCAT", "categories pour vCal"},
            {224, "MMS", "MMS"}});
  rows << QString();
  AddGroup(rows, "Formats video",
           {{230, "VIDEO", "start format video"},
            {231, "AVI", "AVI format"},
            {232, "MPG4", "MPEG-4 files"},
            {233, "3GPP", "3GPP files"},
            {234, "MPG", "MPEG files"},
            {235, "M4V", "MPEG-4 Elementary streams"},
            {236, "PVX", "Progressive Download Packet Video"}});
  rows << QStringLiteral("  ");
  AddGroup(rows, "Interactive formats",
           {{300, "INTERACTIVE", "Interactive Formats"}, {301, "SVG", "SVG Animation"}});
  rows << QStringLiteral("    ");
  AddGroup(rows, "Formats JAVA",
           {{1000, "JAVA", "start format JAVA"},
            {1001, "JAR", "Objets JAVA .jar"},
            {1002, "JAD", "Objets JAVA .jad"},
            {1003, "JAM", "Objets JAVA .jam"}});
  return rows;
}

}  // namespace

const QStringList& ObjectFormatRows() {
  static const QStringList rows = BuildFormatRows();
  return rows;
}

int FormatRowNumbered(const QString& text) {
  if (text.isEmpty()) return -1;
  const QStringList& rows = ObjectFormatRows();
  for (int i = 0; i < rows.size(); ++i) {
    // A data row is its number, the padding blanks and the rest; headings begin with "/*".
    if (rows[i].startsWith(text) && rows[i].size() > text.size() &&
        rows[i][text.size()] == QLatin1Char(' ') && rows[i][0].isDigit())
      return i;
  }
  return -1;
}

const QStringList& ObjectTypeRows() {
  // clang-format off
  static const QStringList rows = {
      "// sounds",   "WAV",  "MIDI", "IMEL", "AMR",  "QUE1", "QUE2", "MP3",  "MFI",  "AAC",
      "AWB",         "VRDP", "// pictures", "BMP", "JPEG", "FGIF", "PNG", "WBMP", "EMSG",
      "TIFF",        "PICT", "EPS",  "// animations", "EMSA", "QL1", "MNG", "SSA", "QL2",
      "MJPEG",       "// videos", "AVI", "MPG4", "3GPP", "SVG", "// others", "VCRD", "VCAL",
      "CGPS",        "VCAT", "JAR",  "JAD",  "JAM",  "MMS",  "// aliases", "AGIF",
      "// conflicting", "MP4", "MPG"};
  // clang-format on
  return rows;
}

const QStringList& ObjectCategoryRows() {
  static const QStringList rows = {"PICTURES", "ANIMATIONS", "SOUNDS", "VCARDS",
                                   "VEVENT",   "VTODO",      "PHOTO",  "ALL"};
  return rows;
}

}  // namespace qv::tools
