// The program's string table: every text that Quendrix shows, by number.
#pragma once

#include <string>
#include <vector>

namespace qx::res {

enum StringId : int {
    IDS_ABOUTBOX = 101,  // system-menu entry of the info box
    IDS_BROWSE_TITLE = 102,
    IDS_TARGET_EMPTY = 103,
    IDS_COL_FILENAME = 104,
    IDS_SAVE_FAILED = 105,   // %s: target path
    IDS_NOT_AN_IMAGE = 106,  // %s: source path
    IDS_LIST_EMPTY = 107,
    IDS_PARAMETER_MENU = 108,
    IDS_NAME_PATTERN = 109,  // %s%0*d: prefix, digits, number
    IDS_NO_INPUT_TYPE = 110,
    IDS_SKIPPED_REPORT = 111,  // %d: number of skipped images
    IDS_SIZE_CELL = 112,       // %d * %d: width, height
    IDS_COL_IMAGE_SIZE = 113,
    IDS_COL_FILE_SIZE = 114,
    IDS_STOP_QUESTION = 115,  // Escape or the close box while a batch runs
    IDS_YES = 116,
    IDS_NO = 117,
    IDS_ADD_FILES_MENU = 118,  // menu entries that feed the list like a drop
    IDS_ADD_FOLDER_MENU = 119,
    IDS_ADD_FILES_TITLE = 120,
    IDS_ADD_FOLDER_TITLE = 121,
    IDS_IMAGE_FILES = 122,  // name filters of the file chooser
    IDS_ALL_FILES = 123,
    // The report of the last batch, and the failure box that can silence the rest of a batch.
    IDS_REPORT_MENU = 124,
    IDS_REPORT_TITLE = 125,
    IDS_REPORT_SAVE = 126,
    IDS_REPORT_CLOSE = 127,
    IDS_REPORT_SAVE_TITLE = 128,
    IDS_REPORT_CSV_FILES = 129,    // name filter of the chooser
    IDS_REPORT_SAVE_FAILED = 130,  // %s: the path chosen
    IDS_REPORT_NONE = 131,         // the totals line before the first batch
    IDS_QUIET_FAILURES = 132,      // check box of the failure box
    IDS_REPORT_COL_SOURCE = 133,
    IDS_REPORT_COL_TARGET = 134,
    IDS_REPORT_COL_RESULT = 135,
    IDS_REPORT_COL_BYTES_BEFORE = 136,
    IDS_REPORT_COL_BYTES_AFTER = 137,
    IDS_REPORT_COL_CHANGE = 138,
    IDS_REPORT_COL_SIZE_BEFORE = 139,
    IDS_REPORT_COL_SIZE_AFTER = 140,
    IDS_REPORT_COL_REASON = 141,
    // The advanced options.
    IDS_ADVANCED_MENU = 142,
    IDS_LIMIT_NOT_REACHED = 143,    // a file whose size limit not even quality 0 met
    IDS_SKIPPED_NOT_SMALLER = 144,  // a file not written: its output would not have been smaller
    IDS_LIMIT_WON = 145,            // a size limit lowered the quality the distance asked for
    // Tooltips of the main window's controls: numbered like the control ids.
    IDS_TIP_BROWSE = 1004,
    IDS_TIP_CLEAR = 1005,
    IDS_TIP_WIDTH = 1011,
    IDS_TIP_HEIGHT = 1012,
    IDS_TIP_SOURCE_FOLDER = 1029,
    IDS_TIP_NO_ENLARGE = 1032,
    // Tooltips of the "Erweiterte Einstellungen" dialog's controls.
    IDS_TIP_KEEP_METADATA = 1040,
    IDS_TIP_DROP_GPS = 1041,
    IDS_TIP_ONLY_SMALLER = 1042,
    IDS_TIP_MAX_KB_ON = 1043,
    IDS_TIP_MAX_KB = 1044,
    IDS_TIP_KEEP_DATE = 1045,
    IDS_TIP_ACCEPT_HEIC = 1046,
    IDS_TIP_ACCEPT_WEBP = 1047,
    IDS_TIP_ACCEPT_AVIF = 1048,
    IDS_TIP_ACCEPT_JXL = 1058,
    IDS_TIP_AUTO_QUALITY = 1053,
    IDS_TIP_KEEP_TREE = 1049,
    IDS_TIP_SKIP_EXISTING = 1050,
    IDS_TIP_SKIP_OWN_OUTPUTS = 1051,
    IDS_TIP_JPEG_LOSSLESS = 1052,
    IDS_TIP_JPEG_BASELINE = 1059,
    // quendrix-batch, the batch from a terminal.
    IDS_CLI_PROGRAM = 2001,   // the program's name, first word of its own messages
    IDS_CLI_USAGE = 2002,     // --help, up to the options that set a key of the settings file
    IDS_CLI_TRY_HELP = 2003,  // last line of every usage error
    IDS_CLI_UNKNOWN_OPTION = 2004,
    IDS_CLI_MISSING_VALUE = 2005,
    IDS_CLI_NO_OPERANDS = 2006,
    IDS_CLI_SIZE_FORMS = 2007,
    IDS_CLI_ONE_OF = 2008,  // %1 all words but the last, %2 the last
    IDS_CLI_ACCEPT_FORMS = 2010,
    IDS_CLI_SETTINGS_MISSING = 2011,
    IDS_CLI_SETTINGS_NO_FILE = 2012,
    IDS_CLI_SETTINGS_UNREADABLE = 2013,
    IDS_CLI_SETTINGS_FILE = 2014,  // heads --show-settings and a bad stored value
    IDS_CLI_PROGRESS = 2015,       // progress lines when stderr is no terminal
    // Why a file failed: shown by quendrix-batch --verbose on the line after the message.
    IDS_REASON_LINE = 2016,  // %s: the reason, with the library's or system's words after a colon
    IDS_REASON_OPEN_FAILED = 2017,
    IDS_REASON_NOT_A_FILE = 2018,
    IDS_REASON_UNKNOWN_FORMAT = 2019,
    IDS_REASON_BAD_HEADER = 2020,
    IDS_REASON_TOO_LARGE = 2021,
    IDS_REASON_BROKEN_DATA = 2022,
    IDS_REASON_SOURCE_CHANGED = 2023,
    IDS_REASON_OUT_OF_MEMORY = 2024,
    IDS_REASON_BAD_SIZE = 2025,
    IDS_REASON_NO_ENCODER = 2026,
    IDS_REASON_TARGET_IS_SOURCE = 2027,
    IDS_REASON_CREATE_FAILED = 2028,
    IDS_REASON_ENCODE_FAILED = 2029,
    IDS_REASON_WRITE_FAILED = 2030,
    IDS_REASON_ABANDONED = 2031,
    // quendrix-notice, the message box of the desktop helpers.
    IDS_NOTICE_USAGE = 2032,
    // quendrix-batch --report, and the summary line at the end of a batch.
    IDS_CLI_REPORT_FORMS = 2033,
    IDS_CLI_REPORT_FOLDER = 2034,
    IDS_CLI_REPORT_FAILED = 2035,
    IDS_REASON_NO_THREAD = 2036,
    IDS_SUMMARY_COUNTS = 2037,  // %1 written (with its noun), %2 skipped, %3 failed
    IDS_SUMMARY_ONE_IMAGE = 2038,
    IDS_SUMMARY_IMAGES = 2039,  // %1: a count other than 1
    IDS_SUMMARY_SIZES = 2040,   // %1 before, %2 after
    IDS_SUMMARY_CHANGE = 2041,  // %1: the change in per cent
    IDS_SIZE_BYTES = 2042,      // %1: a number with a decimal comma, in its unit
    IDS_SIZE_KB = 2043,
    IDS_SIZE_MB = 2044,
    IDS_SIZE_GB = 2045,
    IDS_PERCENT = 2046,
    IDS_RESULT_WRITTEN = 2047,
    IDS_RESULT_SKIPPED = 2048,
    IDS_RESULT_FAILED = 2049,
    // quendrix-batch --help: the end, and the lines of the options that set a key (%1..%2 its range, %3 the
    // output types, %4 the input types, %5 the formats with a quality as first parts of a compound word).
    IDS_CLI_USAGE_END = 2051,
    IDS_CLI_HELP_QUALITY = 2052,
    IDS_CLI_HELP_TARGET_FOLDER = 2053,
    IDS_CLI_HELP_SIZE_SOURCE = 2054,
    IDS_CLI_HELP_SIZE_PERCENT = 2055,
    IDS_CLI_HELP_SIZE_BOX = 2056,
    IDS_CLI_HELP_SOURCE_FOLDERS = 2057,
    IDS_CLI_HELP_ENLARGE = 2058,
    IDS_CLI_HELP_NAMES = 2059,
    IDS_CLI_HELP_PREFIX = 2060,
    IDS_CLI_HELP_FIRST = 2061,
    IDS_CLI_HELP_DIGITS = 2062,
    IDS_CLI_HELP_ACCEPT = 2063,
    IDS_CLI_HELP_TYPE = 2064,
    IDS_CLI_HELP_THREADS = 2065,
    IDS_CLI_HELP_METADATA = 2066,
    IDS_CLI_HELP_KEEP_GPS = 2067,
    IDS_CLI_HELP_SKIP_LARGER = 2068,
    IDS_CLI_HELP_MAX_SIZE = 2069,
    IDS_CLI_HELP_KEEP_DATE = 2070,
    IDS_CLI_HELP_AUTO_QUALITY = 2071,
    IDS_CLI_AUTO_QUALITY_FORMS = 2072,
    IDS_CLI_HELP_KEEP_TREE = 2073,
    IDS_CLI_HELP_SKIP_EXISTING = 2074,
    IDS_CLI_HELP_SKIP_OWN_OUTPUTS = 2075,
    IDS_CLI_HELP_JPEG_LOSSLESS = 2076,
    IDS_CLI_HELP_BASELINE = 2077,
    // A settings file too large to be one.
    IDS_SETTINGS_TOO_LARGE = 2200,      // %s: the file's path
    IDS_CLI_SETTINGS_TOO_LARGE = 2201,  // after --settings "FILE":
    IDS_CLI_SETTINGS_DEFAULTS = 2202,   // after the reason when the default file is refused
    // The quality label for WebP and AVIF, quendrix --help, the CSV report's own headings, the no-enlarge reason.
    IDS_QUALITY_LOSSY_TYPES = 170,
    IDS_APP_USAGE = 2150,
    IDS_CSV_BYTES_BEFORE = 2151,
    IDS_CSV_BYTES_AFTER = 2152,
    IDS_CSV_WIDTH_BEFORE = 2153,
    IDS_CSV_HEIGHT_BEFORE = 2154,
    IDS_CSV_WIDTH_AFTER = 2155,
    IDS_CSV_HEIGHT_AFTER = 2156,
    IDS_CSV_MESSAGE = 2157,
    IDS_SKIPPED_NO_ENLARGE = 2158,
    IDS_CSV_QUALITY = 2159,
    IDS_CSV_DISTANCE = 2160,
    // Failures that are said: named files not taken, cut-short sources, size limits, stopped batches.
    IDS_SKIPPED_ONE = 150,               // the no-enlarge box for one image
    IDS_SKIPPED_NOT_SMALLER_MANY = 151,  // %d: images not written as they would not have been smaller
    IDS_SKIPPED_NOT_SMALLER_ONE = 152,
    IDS_NAMED_NOT_TAKEN = 153,  // heads the named files not taken, one "path: reason" line each
    IDS_NAMED_MORE = 154,       // %1: how many more were not taken
    IDS_REASON_TRUNCATED = 2120,
    IDS_LIMIT_NOT_APPLICABLE = 2121,  // %1: the output type's description
    IDS_LIMIT_MISSED_LINE = 2122,     // %1: the target path
    IDS_SUMMARY_LIMIT_MISSED = 2123,  // %1: count
    IDS_SUMMARY_LIMIT_NOT_APPLICABLE = 2124,
    IDS_SUMMARY_STOPPED = 2125,  // %1: rows not done
    IDS_RESULT_NOT_DONE = 2126,
    IDS_REASON_NOT_FOUND = 2127,
    IDS_REASON_TYPE_NOT_ACCEPTED = 2128,  // %1: the format's description
    IDS_CLI_NAMED_REFUSED = 2129,         // %1: the operand, %2: why
    IDS_CLI_NOTHING_TAKEN = 2130,
    // Whole folders: kept trees, resumed runs, lists of files and shards.
    IDS_SKIPPED_EXISTING = 2131,       // the report's reason for a target left as it was
    IDS_SKIPPED_EXISTING_MANY = 2132,  // %d: images whose targets were there already
    IDS_SKIPPED_EXISTING_ONE = 2133,
    IDS_REASON_OUTSIDE_TARGET = 2134,
    IDS_CLI_LIST_UNREADABLE = 2135,      // after --files-from "LIST":
    IDS_CLI_SHARD_FORMS = 2136,          // after --shard "VALUE":
    IDS_CLI_SHARD_WITH_PATTERN = 2137,   // --shard with running numbers
    IDS_SKIPPED_OWN_OUTPUT = 2138,       // the report's reason for an output of this program among the sources
    IDS_SKIPPED_OWN_OUTPUT_MANY = 2139,  // %d
    IDS_SKIPPED_OWN_OUTPUT_ONE = 2140,
    IDS_FIRST_FRAME_ONLY = 2141,  // the report's note on an animation's output
    // The dialog framework's own validation messages.
    IDS_PARSE_INT = 61704,
    IDS_PARSE_INT_RANGE = 61705,  // %1, %2: lower and upper bound
};

// The text of string `id` in UTF-8, or the empty text when there is none.
const std::string& LoadString(int id);

// printf-style formatting of a string-table text with one "%s" (or "%d") argument.
std::string FormatString(int id, const std::string& argument);
std::string FormatString(int id, int argument);
// The text of string `id` with "%1", "%2", ... replaced by the arguments in turn (each once).
std::string FormatNumbered(int id, const std::vector<std::string>& arguments);
// The same for a text of the dialog templates.
std::string FormatNumbered(const std::string& format, const std::vector<std::string>& arguments);

}  // namespace qx::res
