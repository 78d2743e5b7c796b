#!/bin/sh
# quendrix-compress DATEI|ORDNER...
#
# Compresses the given files and folders with quendrix-batch and the settings of quendrix, without a window,
# with a notification that it runs where one can be shown, then tells the user how it went: in a desktop notification (notify-send) when one can be shown, else in a
# small message window (quendrix-notice), else on standard error. The desktop entry's action and the file
# managers' context menus start it. Exits with the code of quendrix-batch.
#
# Uses nothing but the shell, readlink, dirname, sed and perl (perl-base is essential on Debian).

self=$(readlink -f -- "$0") || self=$0
here=$(dirname -- "$self")

# The programs beside this one (an installed package or the build folder), the window helper also in the
# package's libexec folder, else the PATH.
find_program() {
    for candidate in "$here/$1" "$here/@QUENDRIX_LIBEXEC_FROM_BIN@/$1"; do
        if [ -f "$candidate" ] && [ -x "$candidate" ]; then
            printf '%s\n' "$candidate"
            return 0
        fi
    done
    command -v "$1"
}

# What quendrix-batch printed, as shown to the user. Its progress lines ("Fortschritt: 3/40") are dropped, and
# its closing summary ("40 Bilder geschrieben, 2 übersprungen, 1 fehlgeschlagen: 113,2 MB → 1,3 MB (−98,8 %)")
# comes first, before the messages on single files, so that cutting a long text short never loses it.
# Messages may carry file names in any encoding, and notifications and Qt want UTF-8: every byte that is no
# part of a valid UTF-8 character, and every control character but tab and line end, becomes U+FFFD.
# More than 20 lines are cut short with a count of the rest.
clean_text() {
    perl -e '
        local $/;
        my $text = <STDIN>;
        $text =~ s/((?:[\t\n\x20-\x7E]|[\xC2-\xDF][\x80-\xBF]|\xE0[\xA0-\xBF][\x80-\xBF]|[\xE1-\xEC\xEE\xEF][\x80-\xBF]{2}|\xED[\x80-\x9F][\x80-\xBF]|\xF0[\x90-\xBF][\x80-\xBF]{2}|[\xF1-\xF3][\x80-\xBF]{3}|\xF4[\x80-\x8F][\x80-\xBF]{2})+)|[\x00-\xFF]/defined $1 ? $1 : "\xEF\xBF\xBD"/ge;
        $text =~ s/\s+\z//;
        my @lines = grep { !/^Fortschritt: \d+\/\d+\z/ } split /\n/, $text, -1;
        for (my $i = $#lines; $i >= 0; --$i) {
            next unless $lines[$i] =~ /^(?:1 Bild|\d+ Bilder) geschrieben, \d+ \xC3\xBCbersprungen, \d+ fehlgeschlagen(?:: |; |\z)/;
            unshift @lines, splice(@lines, $i, 1);
            last;
        }
        if (@lines > 20) {
            my $rest = @lines - 19;
            splice @lines, 19;
            push @lines, "\xE2\x80\xA6 und $rest weitere Zeilen";
        }
        print join("\n", @lines);
    '
}

batch=$(find_program quendrix-batch)
notify=$(command -v notify-send)

# A long batch shows nothing for minutes: a notification says that it runs, and the outcome replaces it at the
# end (libnotify 0.7.10 and later print the id and replace by it; an older notify-send just adds the outcome).
started_id=""
if [ $# -gt 0 ] && [ -n "$batch" ] && [ -n "$notify" ]; then
    started_id=$("$notify" --print-id --app-name=Quendrix --icon=quendrix --urgency=low \
        --hint=string:desktop-entry:quendrix -- "Komprimieren läuft …" \
        "Die Zusammenfassung folgt, wenn alle Bilder bearbeitet sind." 2>/dev/null </dev/null) || started_id=""
    case $started_id in
        '' | *[!0-9]*) started_id="" ;;
    esac
fi

if [ $# -eq 0 ]; then
    status=2
    summary="Nichts komprimiert: keine Datei und kein Ordner ausgewählt"
    output=""
elif [ -z "$batch" ]; then
    status=127
    summary="Nicht komprimiert: quendrix-batch wurde nicht gefunden"
    output=""
else
    # Messages, progress and the summary arrive on standard error; whatever comes on standard output is shown
    # too. A name that begins with "-" stays a name after "--". Outputs of earlier runs are listed in their
    # folders and passed over, so that a second run over the same folder neither compresses them again nor
    # fails every original whose output is now among the files.
    output=$("$batch" --skip-own-outputs -- "$@" 2>&1 </dev/null)
    status=$?
    case $status in
        0) summary="Komprimiert: alle Bilder geschrieben oder übersprungen" ;;
        1) summary="Komprimieren mit Fehlern beendet: nicht alle Bilder geschrieben" ;;
        2) summary="Nicht komprimiert: ungültiger Wert in den Einstellungen" ;;
        *) summary="Komprimieren abgebrochen (Rückgabewert $status)" ;;
    esac
    # The outcome is the title of a notification: one short line, the details below it.
fi
details=$(printf '%s' "$output" | clean_text)

# Shown as it went: a notification of a failure stays until the user closes it.
urgency=normal
notice_kind=--information
if [ "$status" -ne 0 ]; then
    urgency=critical
    notice_kind=--warning
fi

if [ -n "$notify" ]; then
    # Notification bodies are markup.
    body=$(printf '%s' "$details" | sed -e 's/&/\&amp;/g' -e 's/</\&lt;/g' -e 's/>/\&gt;/g')
    if "$notify" ${started_id:+"--replace-id=$started_id"} --app-name=Quendrix --icon=quendrix \
        --urgency="$urgency" --hint=string:desktop-entry:quendrix -- "$summary" "$body" 2>/dev/null; then
        exit "$status"
    fi
fi

notice=$(find_program quendrix-notice)
if [ -n "$notice" ] && { [ -n "$DISPLAY" ] || [ -n "$WAYLAND_DISPLAY" ] || [ -n "$QT_QPA_PLATFORM" ]; }; then
    if "$notice" "$notice_kind" -- "Quendrix" "$summary" "$details"; then
        exit "$status"
    fi
fi

printf '%s\n' "$summary" >&2
[ -n "$details" ] && printf '%s\n' "$details" >&2
exit "$status"
