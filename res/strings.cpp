#include "res/strings.h"

#include <cstdio>
#include <map>
#include <vector>

namespace qx::res {
namespace {

const std::map<int, std::string>& Table() {
    static const std::map<int, std::string> table = {
        {IDS_ABOUTBOX, "Inf&o über Quendrix..."},
        {IDS_BROWSE_TITLE, "Bitte Zielverzeichnis auswählen"},
        {IDS_TARGET_EMPTY, "Das Zielverzeichnis ist leer"},
        {IDS_COL_FILENAME, "Dateiname"},
        {IDS_SAVE_FAILED, "Beim Erzeugen der Zieldatei: %s ist ein Fehler aufgetreten."},
        {IDS_NOT_AN_IMAGE, "Keine gültige Bilddatei: %s"},
        {IDS_LIST_EMPTY, "Erst Bilder mit Drag and Drop in die Liste ziehen."},
        {IDS_PARAMETER_MENU, "Parameter..."},
        {IDS_NAME_PATTERN, "%s%0*d"},
        {IDS_NO_INPUT_TYPE, "Es muß mindestens ein Eingabedateityp angegeben werden."},
        {IDS_SKIPPED_REPORT, "%d Bilder wurden nicht komprimiert.\n\nMögliche Gründe:\nBildgröße zu klein."},
        {IDS_SIZE_CELL, "%d * %d"},
        {IDS_COL_IMAGE_SIZE, "Bildgröße (Breite * Hoehe)"},
        {IDS_COL_FILE_SIZE, "Dateigröße"},
        {IDS_TIP_BROWSE, "\nHier kann das Zielverzeichnis ausgewählt werden."},
        {IDS_TIP_CLEAR, "\nEs werden alle Einträge in der Liste gelöscht (aber keine Dateien)."},
        {IDS_TIP_WIDTH, "\nDie Breite der komprimierten Bilder darf diesen Wert nicht überschreiten."},
        {IDS_TIP_HEIGHT, "\nDie Höhe der komprimierten Bilder darf diesen Wert nicht überschreiten."},
        {IDS_TIP_SOURCE_FOLDER,
         "\nWenn \"Zielverzeichnis wie Quellverzeichnis\" ausgewählt ist und im Parameter-Dialog "
         "\"Namen wie die Quelldateien\"  ausgewählt ist, so wird an alle Zieldateinamen ein \"_C\" angefügt."},
        {IDS_TIP_NO_ENLARGE,
         "\nWenn dieses Kontrolkästchen angekreuzt ist und das Bild der Quelldatei kleiner oder gleich der "
         "geforderten Bildgröße ist,\rso wird das Bild nicht verarbeitet."},
        {IDS_PARSE_INT, "Bitte geben Sie eine ganze Zahl ein."},
        {IDS_PARSE_INT_RANGE, "Bitte geben Sie eine ganze Zahl zwischen %1 und %2 ein."},
    };
    return table;
}

template <typename Arg>
std::string Format(const std::string& format, Arg argument) {
    int n = std::snprintf(nullptr, 0, format.c_str(), argument);
    if (n < 0) return format;
    std::vector<char> buffer(static_cast<size_t>(n) + 1);
    std::snprintf(buffer.data(), buffer.size(), format.c_str(), argument);
    return std::string(buffer.data(), static_cast<size_t>(n));
}

}  // namespace

const std::string& LoadString(int id) {
    static const std::string empty;
    auto it = Table().find(id);
    return it == Table().end() ? empty : it->second;
}

std::string FormatString(int id, const std::string& argument) { return Format(LoadString(id), argument.c_str()); }
std::string FormatString(int id, int argument) { return Format(LoadString(id), argument); }

}  // namespace qx::res
