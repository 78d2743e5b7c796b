// The command line's own texts (German, like the program's other texts). Messages of the batch itself come
// from the string table.
#pragma once

namespace qx::cli::text {

inline constexpr const char* kProgram = "quendrix-batch";

inline constexpr const char* kUsage =
    "Aufruf: quendrix-batch [Optionen] DATEI|ORDNER...\n"
    "\n"
    "Komprimiert Bilder wie \"Komprimieren\" im Programm quendrix, mit dessen Einstellungen\n"
    "(Abschnitte Allg und Parameter seiner Einstellungsdatei, die nie geschrieben wird).\n"
    "Ordner werden mit allen Unterordnern durchsucht. Dateien, die kein Bild eines\n"
    "angenommenen Eingabetyps sind, werden wie beim Ziehen in die Liste still übergangen.\n"
    "\n"
    "Optionen (überschreiben einzelne Einstellungen):\n"
    "  --settings DATEI        diese Einstellungsdatei lesen\n"
    "  --show-settings         Einstellungsdatei und alle wirksamen Werte zeigen, dann enden\n"
    "  --size source           Bildgröße wie Quelldatei\n"
    "  --size percent:N        Bildgröße in Prozent (1..999)\n"
    "  --size box:BxH          höchstens B Pixel breit und H Pixel hoch (je 1..10000)\n"
    "  --quality N             Qualität 0..100 (nur für JPG-Ausgabedateien)\n"
    "  --no-enlarge            Bilder nicht vergrößern (Bildgröße)\n"
    "  --enlarge               Bilder auch vergrößern\n"
    "  --target-folder ORDNER  alle Zieldateien in diesen Ordner\n"
    "  --source-folders        Zielverzeichnis wie Quellverzeichnis\n"
    "  --type jpg|bmp|png      Ausgabedateityp\n"
    "  --names source          Namen wie die Quelldateien\n"
    "  --names pattern         Namen aus Präfix und laufender Nummer\n"
    "  --prefix P              Präfix der Namen\n"
    "  --first N               erste laufende Nummer (1..9999)\n"
    "  --digits N              Stellen der laufenden Nummer (1..4)\n"
    "  --threads N             höchstens N Threads zugleich (0..1000; 0: nacheinander)\n"
    "  --accept jpg,bmp,png    angenommene Eingabedateitypen\n"
    "  --quiet                 keine Fortschrittsanzeige\n"
    "  --help                  diese Hilfe\n"
    "  --version               Version des Programms\n"
    "  --                      Ende der Optionen\n"
    "\n"
    "Rückgabewert: 0 alle Bilder geschrieben oder übersprungen, 1 ein Bild oder mehr\n"
    "fehlgeschlagen (oder kein Bild angenommen), 2 falscher Aufruf oder ungültiger Wert.\n";

inline constexpr const char* kTryHelp = "Weitere Informationen mit \"quendrix-batch --help\".";
inline constexpr const char* kUnknownOption = "unbekannte Option";
inline constexpr const char* kMissingValue = "Wert fehlt";
inline constexpr const char* kNoOperands = "keine Datei und kein Ordner angegeben";
inline constexpr const char* kSizeForms = "erwartet source, percent:N oder box:BxH";
inline constexpr const char* kTypeForms = "erwartet jpg, bmp oder png";
inline constexpr const char* kNamesForms = "erwartet source oder pattern";
inline constexpr const char* kAcceptForms = "erwartet eine Liste aus jpg, bmp und png, etwa jpg,png";
inline constexpr const char* kSettingsMissing = "Einstellungsdatei nicht gefunden";
inline constexpr const char* kSettingsNoFile = "ist keine Datei";
inline constexpr const char* kSettingsUnreadable = "Einstellungsdatei nicht lesbar";
inline constexpr const char* kSettingsFile = "Einstellungsdatei";
inline constexpr const char* kProgress = "Fortschritt";

}  // namespace qx::cli::text
