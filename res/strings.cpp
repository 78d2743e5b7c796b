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
        {IDS_STOP_QUESTION, "Komprimierung abbrechen?"},
        {IDS_YES, "&Ja"},
        {IDS_NO, "&Nein"},
        {IDS_ADD_FILES_MENU, "&Dateien hinzufügen..."},
        {IDS_ADD_FOLDER_MENU, "O&rdner hinzufügen..."},
        {IDS_ADD_FILES_TITLE, "Bilddateien hinzufügen"},
        {IDS_ADD_FOLDER_TITLE, "Ordner mit Bildern hinzufügen"},
        {IDS_IMAGE_FILES, "Bilddateien"},
        {IDS_ALL_FILES, "Alle Dateien"},
        {IDS_REPORT_MENU, "Bericht der letzten Komprimierung..."},
        {IDS_REPORT_TITLE, "Bericht der letzten Komprimierung"},
        {IDS_REPORT_SAVE, "Speichern unter..."},
        {IDS_REPORT_CLOSE, "Schließen"},
        {IDS_REPORT_SAVE_TITLE, "Bericht speichern"},
        {IDS_REPORT_CSV_FILES, "CSV-Dateien"},
        {IDS_REPORT_SAVE_FAILED, "Der Bericht konnte nicht gespeichert werden: %s"},
        {IDS_REPORT_NONE, "Noch keine Komprimierung in dieser Sitzung."},
        {IDS_QUIET_FAILURES, "Keine weiteren Fehlermeldungen dieser Komprimierung anzeigen"},
        {IDS_REPORT_COL_SOURCE, "Quelldatei"},
        {IDS_REPORT_COL_TARGET, "Zieldatei"},
        {IDS_REPORT_COL_RESULT, "Ergebnis"},
        {IDS_REPORT_COL_BYTES_BEFORE, "Größe vorher"},
        {IDS_REPORT_COL_BYTES_AFTER, "Größe nachher"},
        {IDS_REPORT_COL_CHANGE, "Änderung"},
        {IDS_REPORT_COL_SIZE_BEFORE, "Bildgröße vorher"},
        {IDS_REPORT_COL_SIZE_AFTER, "Bildgröße nachher"},
        {IDS_REPORT_COL_REASON, "Grund"},
        {IDS_ADVANCED_MENU, "&Erweiterte Einstellungen..."},
        {IDS_LIMIT_NOT_REACHED, "Grenze nicht erreicht"},
        {IDS_SKIPPED_NOT_SMALLER, "Nicht kleiner als die Quelldatei"},
        {IDS_LIMIT_WON, "Größenlimit vor automatischer Qualität"},
        {IDS_TIP_BROWSE, "\nHier kann das Zielverzeichnis ausgewählt werden."},
        {IDS_TIP_CLEAR, "\nEs werden alle Einträge in der Liste gelöscht (aber keine Dateien)."},
        {IDS_TIP_WIDTH, "\nDie Breite der komprimierten Bilder darf diesen Wert nicht überschreiten."},
        {IDS_TIP_HEIGHT, "\nDie Höhe der komprimierten Bilder darf diesen Wert nicht überschreiten."},
        {IDS_TIP_SOURCE_FOLDER,
         "\nWenn \"Zielverzeichnis wie Quellverzeichnis\" ausgewählt ist und im Parameter-Dialog "
         "\"Namen wie die Quelldateien\"  ausgewählt ist, so wird an alle Zieldateinamen ein \"_C\" angefügt."},
        {IDS_TIP_KEEP_METADATA,
         "\nÜbernimmt EXIF- und XMP-Daten der Quelle in JPG-, PNG-, WebP-, AVIF- und JPEG-XL-Dateien (Ausrichtung und "
         "Bildmaße "
         "werden angepasst); das Farbprofil bleibt immer erhalten."},
        {IDS_TIP_DROP_GPS, "\nEntfernt aus den übernommenen EXIF-Daten den Aufnahmeort (GPS-Position)."},
        {IDS_TIP_ONLY_SMALLER,
         "\nEine Ausgabedatei, die nicht kleiner als ihre Quelldatei wäre, wird nicht gespeichert und als "
         "übersprungen gezählt."},
        {IDS_TIP_MAX_KB_ON,
         "\nSenkt die Qualität jeder %1-Ausgabedatei höchstens so weit, bis sie in die angegebene Größe passt "
         "(%2 bleiben unberührt)."},
        {IDS_TIP_MAX_KB, "\nDie größte erlaubte Dateigröße in Kilobyte (1 bis 1000000)."},
        {IDS_TIP_KEEP_DATE, "\nDie Ausgabedatei erhält das Änderungsdatum ihrer Quelldatei."},
        {IDS_TIP_ACCEPT_HEIC, "\nNimmt HEIC- und HEIF-Dateien (.heic, .heif, .hif) als Quelldateien an."},
        {IDS_TIP_ACCEPT_WEBP, "\nNimmt WebP-Dateien (.webp) als Quelldateien an; von Animationen das erste Bild."},
        {IDS_TIP_ACCEPT_AVIF, "\nNimmt AVIF-Dateien (.avif) als Quelldateien an; von Bildfolgen das erste Bild."},
        {IDS_TIP_ACCEPT_JXL, "\nNimmt JPEG-XL-Dateien (.jxl) als Quelldateien an; von Animationen das erste Bild."},
        {IDS_TIP_AUTO_QUALITY,
         "\nJedes Bild erhält die niedrigste Qualität bis zur eingestellten, die so gut aussieht wie gewählt "
         "(nur für %1-Ausgabedateien)."},
        {IDS_TIP_KEEP_TREE,
         "\nBilder aus einem hinzugefügten Ordner landen im Zielverzeichnis in denselben Unterordnern wie in der "
         "Quelle; fehlende Unterordner werden angelegt. Einzeln hinzugefügte Dateien landen direkt im "
         "Zielverzeichnis."},
        {IDS_TIP_SKIP_OWN_OUTPUTS,
         "\nJede Ausgabedatei wird in der Datei .quendrix-ausgaben ihres Ordners vermerkt. Eine so vermerkte Datei "
         "(auch umbenannt) wird nicht noch einmal komprimiert, und ein zweiter Lauf über denselben Ordner ersetzt "
         "die Ausgaben des ersten."},
        {IDS_TIP_SKIP_EXISTING,
         "\nEin Bild, dessen Zieldatei schon vorhanden und nicht älter als die Quelldatei ist, wird übersprungen. "
         "So setzt ein zweiter Lauf einen abgebrochenen fort."},
        {IDS_TIP_JPEG_LOSSLESS,
         "\nEine JPG-Quelle in unveränderter Größe, nicht gedreht, wird verlustfrei als JPEG XL umgepackt; das "
         "Original lässt sich Byte für Byte zurückgewinnen. Nur wenn ihre Metadaten mitgehen dürfen (übernommen, GPS "
         "nicht zu entfernen) oder sie keine hat."},
        {IDS_TIP_JPEG_BASELINE,
         "\nJPG-Dateien immer in einem Durchgang von oben nach unten speichern. Sonst wird eine JPG-Datei "
         "progressiv gespeichert (erst grob, dann fein), wenn sie so kleiner wird; nur sehr alte Programme lesen das "
         "nicht."},
        {IDS_TIP_NO_ENLARGE,
         "\nWenn dieses Kontrolkästchen angekreuzt ist und das Bild der Quelldatei kleiner oder gleich der "
         "geforderten Bildgröße ist,\rso wird das Bild nicht verarbeitet."},
        {IDS_CLI_PROGRAM, "quendrix-batch"},
        {IDS_CLI_USAGE,
         "Aufruf: quendrix-batch [Optionen] DATEI|ORDNER...\n"
         "\n"
         "Komprimiert Bilder wie \"Komprimieren\" im Programm quendrix, mit dessen Einstellungen\n"
         "(Abschnitte Allg, Parameter und Erweitert seiner Einstellungsdatei, die nie geschrieben wird).\n"
         "Ordner werden mit allen Unterordnern durchsucht; darin gefundene Dateien, die kein Bild\n"
         "eines angenommenen Eingabetyps sind, werden still übergangen. Eine ausdrücklich genannte\n"
         "Datei, die fehlt oder kein solches Bild ist, zählt als fehlgeschlagen.\n"
         "\n"
         "Optionen (überschreiben einzelne Einstellungen):\n"
         "  --settings DATEI        diese Einstellungsdatei lesen\n"
         "  --show-settings         Einstellungsdatei und alle wirksamen Werte zeigen, dann enden\n"},
        {IDS_CLI_HELP_QUALITY, "  --quality N             Qualität %1..%2 (für %5-Ausgabedateien)\n"},
        {IDS_CLI_HELP_TARGET_FOLDER, "  --target-folder ORDNER  alle Zieldateien in diesen Ordner\n"},
        {IDS_CLI_HELP_SIZE_SOURCE, "  --size source           Bildgröße wie Quelldatei\n"},
        {IDS_CLI_HELP_SIZE_PERCENT, "  --size percent:N        Bildgröße in Prozent (%1..%2)\n"},
        {IDS_CLI_HELP_SIZE_BOX, "  --size box:BxH          höchstens B Pixel breit und H Pixel hoch (je %1..%2)\n"},
        {IDS_CLI_HELP_SOURCE_FOLDERS, "  --source-folders        Zielverzeichnis wie Quellverzeichnis\n"},
        {IDS_CLI_HELP_ENLARGE,
         "  --no-enlarge            Bilder nicht vergrößern (Bildgröße)\n"
         "  --enlarge               Bilder auch vergrößern\n"},
        {IDS_CLI_HELP_NAMES,
         "  --names source          Namen wie die Quelldateien\n"
         "  --names pattern         Namen aus Präfix und laufender Nummer\n"},
        {IDS_CLI_HELP_PREFIX, "  --prefix P              Präfix der Namen\n"},
        {IDS_CLI_HELP_FIRST, "  --first N               erste laufende Nummer (%1..%2)\n"},
        {IDS_CLI_HELP_DIGITS, "  --digits N              Stellen der laufenden Nummer (%1..%2)\n"},
        {IDS_CLI_HELP_ACCEPT,
         "  --accept %4\n"
         "                          angenommene Eingabedateitypen\n"},
        {IDS_CLI_HELP_TYPE,
         "  --type %3\n"
         "                          Ausgabedateityp\n"},
        {IDS_CLI_HELP_THREADS, "  --threads N             höchstens N Threads zugleich (%1..%2; 0: nacheinander)\n"},
        {IDS_CLI_HELP_METADATA, "  --metadata keep|strip   EXIF und XMP der Quelle übernehmen oder weglassen\n"},
        {IDS_CLI_HELP_KEEP_GPS,
         "  --keep-gps              mit übernommenen Metadaten auch die GPS-Position behalten\n"},
        {IDS_CLI_HELP_SKIP_LARGER, "  --skip-larger           nur speichern, wenn kleiner als die Quelldatei\n"},
        {IDS_CLI_HELP_MAX_SIZE,
         "  --max-size N            höchstens N KB pro Datei (auch 300K, 2M; %1..%2 KB;\n"
         "                          nur für Ausgabetypen mit Qualität)\n"},
        {IDS_CLI_HELP_KEEP_DATE, "  --keep-date             Änderungsdatum der Quelle übernehmen\n"},
        {IDS_CLI_HELP_AUTO_QUALITY,
         "  --auto-quality D        je Bild die niedrigste Qualität bis --quality, deren Ausgabe höchstens\n"
         "                          die Butteraugli-Distanz D hat (1: visuell verlustfrei, 1.5, 2, 3; 0: aus)\n"},
        {IDS_CLI_AUTO_QUALITY_FORMS,
         "Bitte geben Sie eine Distanz von 0 bis 10 mit höchstens einer Nachkommastelle ein (0: aus)."},
        {IDS_CLI_HELP_KEEP_TREE,
         "  --keep-tree             Unterordner der Quellordner im Zielverzeichnis beibehalten\n"},
        {IDS_CLI_HELP_SKIP_OWN_OUTPUTS,
         "  --skip-own-outputs      eigene Ausgabedateien vermerken und nicht erneut komprimieren\n"
         "  --own-outputs           eigene Ausgabedateien wie andere Bilder behandeln\n"},
        {IDS_CLI_HELP_SKIP_EXISTING,
         "  --skip-existing         Bilder überspringen, deren Zieldatei schon vorhanden\n"
         "                          und nicht älter als die Quelle ist\n"},
        {IDS_CLI_HELP_JPEG_LOSSLESS,
         "  --jpeg-lossless         JPG-Quellen in unveränderter Größe verlustfrei in JPEG XL umpacken\n"},
        {IDS_CLI_HELP_BASELINE,
         "  --baseline              JPG in einem Durchgang speichern (nicht progressiv)\n"
         "  --progressive           JPG progressiv, wo es kleiner wird (Voreinstellung)\n"},
        {IDS_CLI_USAGE_END,
         "  --quiet                 keine Fortschrittsanzeige und keine Zusammenfassung am Ende\n"
         "  --verbose               bei jedem fehlgeschlagenen Bild den Grund zeigen\n"
         "  --report DATEI          Bericht über jedes Bild in DATEI schreiben (.csv oder .jsonl)\n"
         "  --files-from LISTE      die Dateien und Ordner aus LISTE nehmen, einer je Zeile\n"
         "                          (- liest die Standardeingabe)\n"
         "  -0, --null              die Einträge der Liste sind durch Nullbytes getrennt\n"
         "  --shard K/N             nur den K-ten von N getrennten Teilen bearbeiten\n"
         "                          (für mehrere Rechner; nicht mit --names pattern)\n"
         "  --help                  diese Hilfe\n"
         "  --version               Version des Programms\n"
         "  --                      Ende der Optionen\n"
         "\n"
         "Rückgabewert: 0 alle Bilder geschrieben oder übersprungen, 1 ein Bild oder mehr\n"
         "fehlgeschlagen (oder kein Bild angenommen), 2 falscher Aufruf oder ungültiger Wert.\n"},
        {IDS_CLI_TRY_HELP, "Weitere Informationen mit \"quendrix-batch --help\"."},
        {IDS_CLI_UNKNOWN_OPTION, "unbekannte Option"},
        {IDS_CLI_MISSING_VALUE, "Wert fehlt"},
        {IDS_CLI_NO_OPERANDS, "keine Datei und kein Ordner angegeben"},
        {IDS_CLI_SIZE_FORMS, "erwartet source, percent:N oder box:BxH"},
        {IDS_CLI_ONE_OF, "erwartet %1 oder %2"},
        {IDS_CLI_ACCEPT_FORMS, "erwartet eine Liste aus %1 und %2, etwa jpg,png"},
        {IDS_CLI_SETTINGS_MISSING, "Einstellungsdatei nicht gefunden"},
        {IDS_CLI_SETTINGS_NO_FILE, "ist keine Datei"},
        {IDS_CLI_SETTINGS_UNREADABLE, "Einstellungsdatei nicht lesbar"},
        {IDS_CLI_SETTINGS_FILE, "Einstellungsdatei"},
        {IDS_CLI_PROGRESS, "Fortschritt"},
        {IDS_REASON_LINE, "  Grund: %s"},
        {IDS_REASON_OPEN_FAILED, "Datei lässt sich nicht öffnen"},
        {IDS_REASON_NOT_A_FILE, "keine gewöhnliche Datei"},
        {IDS_REASON_UNKNOWN_FORMAT, "unbekanntes Dateiformat"},
        {IDS_REASON_BAD_HEADER, "Dateikopf fehlerhaft oder nicht unterstützt"},
        {IDS_REASON_TOO_LARGE, "Bild zu groß"},
        {IDS_REASON_BROKEN_DATA, "Bilddaten fehlerhaft"},
        {IDS_REASON_SOURCE_CHANGED, "Datei hat sich seit dem Einlesen geändert"},
        {IDS_REASON_OUT_OF_MEMORY, "zu wenig Arbeitsspeicher"},
        {IDS_REASON_BAD_SIZE, "kein Bild dieser Größe möglich"},
        {IDS_REASON_NO_ENCODER, "kein Ausgabedateityp"},
        {IDS_REASON_TARGET_IS_SOURCE, "Zieldatei ist eine Quelldatei"},
        {IDS_REASON_CREATE_FAILED, "Zieldatei lässt sich nicht anlegen"},
        {IDS_REASON_ENCODE_FAILED, "Kodieren fehlgeschlagen"},
        {IDS_REASON_WRITE_FAILED, "Schreiben fehlgeschlagen"},
        {IDS_REASON_ABANDONED, "Programm wird beendet"},
        {IDS_NOTICE_USAGE,
         "Aufruf: quendrix-notice [--information|--warning] [--] TITEL TEXT [DETAILS]\n"
         "Zeigt TEXT und DETAILS in einem Meldungsfenster mit dem Titel TITEL.\n"},
        {IDS_CLI_REPORT_FORMS, "erwartet eine Datei mit der Endung .csv oder .jsonl"},
        {IDS_CLI_REPORT_FOLDER, "Ordner nicht vorhanden oder nicht beschreibbar"},
        {IDS_CLI_REPORT_FAILED, "Bericht nicht geschrieben"},
        {IDS_REASON_NO_THREAD, "kein weiterer Thread möglich"},
        {IDS_SUMMARY_COUNTS, "%1 geschrieben, %2 übersprungen, %3 fehlgeschlagen"},
        {IDS_SUMMARY_ONE_IMAGE, "1 Bild"},
        {IDS_SUMMARY_IMAGES, "%1 Bilder"},
        {IDS_SUMMARY_SIZES, ": %1 → %2"},
        {IDS_SUMMARY_CHANGE, " (%1)"},
        {IDS_SIZE_BYTES, "%1 Bytes"},
        {IDS_SIZE_KB, "%1 KB"},
        {IDS_SIZE_MB, "%1 MB"},
        {IDS_SIZE_GB, "%1 GB"},
        {IDS_PERCENT, "%1 %"},
        {IDS_RESULT_WRITTEN, "geschrieben"},
        {IDS_RESULT_SKIPPED, "übersprungen"},
        {IDS_RESULT_FAILED, "fehlgeschlagen"},
        // A settings file too large to be one.
        {IDS_SETTINGS_TOO_LARGE,
         "Die Einstellungsdatei \"%s\" ist größer als 1 MB und wird nicht gelesen. Es gelten die "
         "Standardeinstellungen; Änderungen werden nicht in dieser Datei gespeichert."},
        {IDS_CLI_SETTINGS_TOO_LARGE, "Einstellungsdatei größer als 1 MB, nicht gelesen"},
        {IDS_CLI_SETTINGS_DEFAULTS, "es gelten die Standardeinstellungen"},
        // The quality label for WebP and AVIF, quendrix --help, the CSV report's own headings, the no-enlarge reason.
        {IDS_QUALITY_LOSSY_TYPES, "Für %1-Ausgabedateien"},
        {IDS_APP_USAGE,
         "Aufruf: quendrix [DATEI|ORDNER...]\n"
         "\n"
         "Öffnet das Fenster von Quendrix. Angegebene Dateien und Ordner kommen in die Liste, als wären\n"
         "sie hineingezogen worden; Ordner werden mit allen Unterordnern durchsucht.\n"
         "\n"
         "Optionen:\n"
         "  --help     diese Hilfe\n"
         "  --version  Version des Programms\n"
         "  --         Ende der Optionen\n"
         "\n"
         "Ohne Fenster komprimiert quendrix-batch mit denselben Einstellungen.\n"},
        {IDS_CSV_BYTES_BEFORE, "Bytes vorher"},
        {IDS_CSV_BYTES_AFTER, "Bytes nachher"},
        {IDS_CSV_WIDTH_BEFORE, "Breite vorher"},
        {IDS_CSV_HEIGHT_BEFORE, "Höhe vorher"},
        {IDS_CSV_WIDTH_AFTER, "Breite nachher"},
        {IDS_CSV_HEIGHT_AFTER, "Höhe nachher"},
        {IDS_CSV_MESSAGE, "Meldung"},
        {IDS_CSV_QUALITY, "Qualität"},
        {IDS_CSV_DISTANCE, "Butteraugli-Distanz"},
        {IDS_SKIPPED_NO_ENLARGE, "Nicht vergrößert (Bilder nicht vergrößern)"},
        // Failures that are said: named files not taken, cut-short sources, size limits, stopped batches.
        {IDS_SKIPPED_ONE, "1 Bild wurde nicht komprimiert.\n\nMögliche Gründe:\nBildgröße zu klein."},
        {IDS_SKIPPED_NOT_SMALLER_MANY,
         "%d Bilder wurden nicht gespeichert.\n\nGrund:\nDie Zieldatei wäre nicht kleiner als die Quelldatei."},
        {IDS_SKIPPED_NOT_SMALLER_ONE,
         "1 Bild wurde nicht gespeichert.\n\nGrund:\nDie Zieldatei wäre nicht kleiner als die Quelldatei."},
        {IDS_NAMED_NOT_TAKEN, "Diese Dateien wurden nicht in die Liste übernommen:"},
        {IDS_NAMED_MORE, "… und %1 weitere"},
        {IDS_REASON_TRUNCATED, "Bilddaten unvollständig"},
        {IDS_LIMIT_NOT_APPLICABLE, "Grenze gilt nicht für %1"},
        {IDS_LIMIT_MISSED_LINE, "Grenze nicht erreicht: %1"},
        {IDS_SUMMARY_LIMIT_MISSED, "; Grenze nicht erreicht: %1"},
        {IDS_SUMMARY_LIMIT_NOT_APPLICABLE, "; Grenze gilt nicht für den Ausgabedateityp: %1"},
        {IDS_SUMMARY_STOPPED, "; abgebrochen, %1 nicht bearbeitet"},
        {IDS_RESULT_NOT_DONE, "nicht bearbeitet"},
        {IDS_REASON_NOT_FOUND, "Datei nicht gefunden"},
        {IDS_REASON_TYPE_NOT_ACCEPTED, "Eingabedateityp %1 nicht angenommen"},
        {IDS_CLI_NAMED_REFUSED, "quendrix-batch: \"%1\": %2"},
        {IDS_CLI_NOTHING_TAKEN, "quendrix-batch: keine Bilddatei angenommen"},
        {IDS_SKIPPED_EXISTING, "Ziel bereits vorhanden"},
        {IDS_SKIPPED_EXISTING_MANY,
         "%d Bilder wurden übersprungen.\n\nGrund:\nDie Zieldatei ist bereits vorhanden und nicht älter als die "
         "Quelldatei."},
        {IDS_SKIPPED_EXISTING_ONE,
         "1 Bild wurde übersprungen.\n\nGrund:\nDie Zieldatei ist bereits vorhanden und nicht älter als die "
         "Quelldatei."},
        {IDS_SKIPPED_OWN_OUTPUT, "Ausgabedatei von Quendrix"},
        {IDS_FIRST_FRAME_ONLY, "Animation: nur das erste Bild"},
        {IDS_SKIPPED_OWN_OUTPUT_MANY,
         "%d Bilder wurden übersprungen.\n\nGrund:\nSie sind Ausgabedateien von Quendrix."},
        {IDS_SKIPPED_OWN_OUTPUT_ONE, "1 Bild wurde übersprungen.\n\nGrund:\nEs ist eine Ausgabedatei von Quendrix."},
        {IDS_REASON_OUTSIDE_TARGET, "Unterordner führt aus dem Zielverzeichnis hinaus"},
        {IDS_CLI_LIST_UNREADABLE, "Liste nicht lesbar"},
        {IDS_CLI_SHARD_FORMS, "erwartet K/N mit 1 <= K <= N, etwa 2/4"},
        {IDS_CLI_SHARD_WITH_PATTERN,
         "quendrix-batch: --shard geht nicht mit --names pattern: die laufenden Nummern wären auf jedem Teil "
         "dieselben"},
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

std::string FormatNumbered(int id, const std::vector<std::string>& arguments) {
    return FormatNumbered(LoadString(id), arguments);
}

std::string FormatNumbered(const std::string& format, const std::vector<std::string>& arguments) {
    // Left to right in one pass, so that an argument holding "%2" is never replaced in its turn.
    std::string text;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] >= '1' && format[i + 1] <= '9') {
            const size_t n = static_cast<size_t>(format[i + 1] - '1');
            if (n < arguments.size()) {
                text += arguments[n];
                ++i;
                continue;
            }
        }
        text += format[i];
    }
    return text;
}

}  // namespace qx::res
