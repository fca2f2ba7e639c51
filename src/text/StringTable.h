#pragma once
#include <QList>
#include <QString>

namespace pmx {

// Ids of the texts the program shows. The numbers are the keys of the table and stay as
// they are; gaps are ids that were never used.
enum class TextId : int {
    ProgramKind = 1, // "Setting software"
    MakerName = 2,
    ProductName = 3,
    MenuFile = 4,
    MenuEnd = 5,
    MenuSetting = 6,
    MenuHelp = 7,
    MenuVersion = 8,
    MenuItemSelection = 9,
    MenuUnitSelection = 10,
    MenuConditions = 11,
    Decimal = 13,
    Hexadecimal = 14,
    TransferFrame = 20,
    Read = 21,
    Write = 22,
    FilesFrame = 23,
    Load = 24,
    Save = 25,
    Protocol = 26,
    InstrumentNumber = 27,
    TransferRate = 28,
    DataBits = 29,
    StopBits = 30,
    ParityBits = 31,
    ConditionsFrame = 32,
    Port = 33,
    Timeout = 34,
    ConditionsTitle = 35,
    ValueTitle = 36,
    CurrentValue = 37,
    CommandItem = 39,
    SelectionTitle = 40,
    VersionTitle = 41,
    SendOnChange = 42,
    CommunicationError = 50,
    ConfirmClose = 51,
    ConfirmRead = 52,
    ConfirmWrite = 53,
    // Operator messages of the windows.
    CsvNotWritten = 60,
    DataFileNotSaved = 61,
    DataFileNotLoaded = 62,
    StateNotSaved = 63,
    DeviceForPort = 70,
    AutomaticDevice = 71,
    NotConnected = 72,
    PortOpensNoDevice = 73,
    PortOpensDevice = 74,
    ValueOutOfRange = 75,
    SavePdf = 76,
    AboutNotice = 77,
    // Item failures: the values of ResponseClass.
    NegativeAcknowledgement = 100,
    ChecksumError = 101,
    NoResponse = 102,
    CommErrorOrNak = 103,
    MakerAddress = 104,
    MakerPhone = 105,
    ReportParameter = 106,
    ReportDataItem = 107,
    ReportData = 108,
    ReportUnit = 109,
    MenuAllData = 110,
    MenuExport = 111,
    // Why a table or model file was not read.
    FieldFailure = 120, // "field %1 (line %2): %3"
    FileEndsEarly = 121,
    ClosingQuoteMissing = 122,
    QuoteInName = 123,
    NotANumber = 124,
    OutsideInt16 = 125,
    BadSelection = 126,
    FileTooLarge = 127,
    FileCannotOpen = 128,
    ModelNotLoaded = 130,     // "Cannot load the model definition: %1"
    ModelFileNotLoaded = 131, // "Cannot load %1: %2"
    // The line's own reports.
    ConnectionLost = 200,
    Reconnected = 201,
    WaitingForDevice = 202,
    BroadcastNoReads = 203,
    BroadcastWritten = 204,
    LateAnswers = 205,          // "Answers came up to %1 ms ... A time-out of %2 ms ..."
    LateAnswersNoTimeout = 206, // the same, when no time-out that can be set waits so long
    LineEchoes = 207,           // the line sends every request back (a two-wire adapter)
    // Why a port did not open.
    NoSuchDevice = 210,
    DeviceBusy = 211,
    PermissionDenied = 212,
    SettingsRefused = 213,
    OpenFailed = 214,
    NoSerialDevice = 215,
    ConditionsInvalid = 216,
    DeviceHeldBy = 217, // "%1 is in use by %2": %2 names the programs and their process numbers
    // Files: what became of an export, a state file that was not loaded, why a save failed.
    CsvItemsAppended = 240,   // "%1 items appended to %2"
    StateFileNotLoaded = 241, // "%1 could not be loaded: %2 ... kept as %3 ..."
    ModelNameNotStorable = 242,
    ItemNameNotStorable = 243, // "The name of item %1 ..."
    NameNotEncodable = 244,
    FileNotCreated = 245, // "... (%1)": the system's reason
    FileNotWrittenToEnd = 246,
    FileNotReplaced = 247,
    CopyNotKept = 248,     // "... as %1 (%2)"
    CsvItemsWritten = 249, // "%1 items written to the new file %2"
    // Block reads.
    BlockReads = 380,    // the condition's caption
    BlockMaxCount = 381, // the dialog's count caption
    BlockReadsOn = 382,  // "On, %1 per request"
    BlockReadsOff = 383,
    BlockReadsUnused = 384, // under KORVAN
    BlockReadsHint = 385,   // the dialog's note on when to use them
    // The communication monitor and the feedback of transfers.
    MenuMonitor = 300,
    MonitorTitle = 301,
    ColumnTime = 302,
    ColumnRequest = 303,
    ColumnAnswer = 304,
    ColumnCharacters = 305,
    ColumnMeaning = 306,
    ColumnOutcome = 307,
    ColumnTries = 308,
    ColumnRoundTrip = 309,
    MonitorCounters = 310, // exchanges, good, refused, checksum, no answer, discarded bytes
    MonitorPause = 311,
    MonitorClear = 312,
    MonitorFailuresOnly = 313,
    MonitorSave = 314,
    OutcomeGood = 315,
    OutcomeNak = 316,       // "NAK %1"
    OutcomeException = 317, // "exception %1"
    OutcomeChecksum = 318,
    OutcomeNoAnswer = 319,
    OutcomeStale = 320,
    OutcomeDeviceLost = 321,
    OutcomeBroadcast = 322,
    MeaningRead = 323,  // "read %1h %2" (address, name)
    MeaningWrite = 324, // "write %1h %2 = %3" (address, name, value)
    Stop = 325,
    ProgressItem = 326, // "item %1 of %2  %3h"
    SummaryRead = 327,  // "Read: %1 of %2 items good"
    SummaryWrite = 328,
    SummaryFailed = 329, // "; %1 failed: %2"
    SummaryStopped = 330,
    SummaryLost = 331,
    OutcomeRefused = 332,
    OutcomeErrorOrRefused = 333,
    TextFiles = 334,
    MonitorNotSaved = 335, // "%1 could not be written."
    // The command line's summary: "read: 58 items, 55 good, 1 failed, 2 not read (...)".
    SummaryLineItems = 336, // "%1: %2 items, %3 good, %4 failed": command, counts
    SummaryLineItem = 337,  // the same for one item
    SummaryLineNotConfirmed = 338,
    SummaryLineNotKept = 339,
    SummaryLineNotRead = 340,    // ", %1 not read (%2)": count, item list
    SummaryLineNotWritten = 341, // ", %1 not written (%2)"
    SummaryLineStopped = 342,
    SummaryLineLost = 343,
    // A line reached over the network.
    NetworkLineUnused = 350,
    NetworkConnected = 351,
    NotANetworkAddress = 352,
    ConnectTimedOut = 353,
    // Compare and verify.
    ReadBackDiffers = 400, // "%1h: wrote %2, instrument holds %3"
    CompareCounts = 401,   // "%1 of %2 items differ; %3 could not be read"
    VerifyAfterWriting = 402,
    MenuCompare = 403,
    CompareTitle = 404,
    CompareAddress = 405,
    CompareName = 406,
    CompareTableValue = 407,
    CompareInstrumentValue = 408,
    CompareDifferencesOnly = 409,
    CompareWriteDifferences = 410,
    CompareTakeValues = 411,
    CompareExportCsv = 412,
    CompareClose = 413,
    CompareNothingSelected = 415,
    SummaryNotKept = 416,        // "; %1 not kept" (verify after writing)
    OutcomeVerifyMismatch = 417, // "verify mismatch: wrote %1, holds %2"
    MonitorVerifyCount = 418,    // "    Verify mismatches %1", after the counters
    SummaryNotRead = 419,        // "; %1 not read: %2" (the items a stop or a loss left)
    SummaryNotWritten = 420,     // "; %1 not written: %2"
    // The help window and why help could not be shown.
    HelpTitle = 450,
    HelpContents = 451,
    HelpBack = 452,
    HelpForward = 453,
    HelpFind = 454,
    HelpFindMissing = 455, // "\"%1\" not found"
    HelpNotShown = 456,    // "Help cannot be shown: %1, and ..."
    HelpFileMissing = 457, // "the help file %1 does not exist"
    HelpNoViewer = 458,    // "no program to open the help file %1 was found (%2)"
    // Finding the instrument; the ports of the condition dialog.
    MenuFindInstrument = 500,
    FinderTitle = 501,
    FinderPorts = 502,
    FinderPortInEffect = 503, // "The port in effect: %1"
    FinderEveryDevice = 504,  // "Every serial device found (%1)"
    FinderProtocols = 505,
    FinderInstruments = 506,
    FinderInstrumentInEffect = 507, // "The instrument number in effect: %1"
    FinderAllInstruments = 508,
    FinderStopAtFirst = 509,
    FinderAnswerWait = 510,
    FinderWorstCase = 511, // "%1 tries. If nothing answers, the search takes %2."
    FinderStart = 512,
    FinderCancel = 513,
    FinderProgress = 514, // "Try %1 of %2: %3"
    FinderUse = 515,
    FinderColumnModel = 516,
    FinderColumnAnswer = 517,
    FinderNothingFound = 518, // "... (%1 tries)"
    FinderFoundCount = 519,   // "%1 ... (%2 tries)"
    FinderCancelled = 520,    // "... %1 tries ... %2 found"
    FinderPortSkipped = 521,  // "%1 skipped: %2"
    FinderNoDevice = 522,
    FinderTarget = 523,      // "%1, %2, %3, instrument %4"
    FinderAnswerValue = 524, // "%1 (%2h = %3)"
    FinderRefusedCode = 525, // "refused %1"
    DurationSeconds = 526,
    DurationMinutes = 527,
    DurationHours = 528,
    FinderStored = 529, // "Stored and applied: %1"
    FinderHint = 530,
    RefreshDevices = 531,
    NotADeviceFile = 532, // "%1 is not a device"
    NotADevicePath = 533, // "%1 is neither a device path ... nor a network address ..."
    FinderBusy = 534,
    FinderOneInstrumentTried = 535,
    // Buttons and file choices of the dialogs.
    Cancel = 600,
    Yes = 601,
    No = 602,
    Ok = 603,
    Open = 604,
    SaveFile = 605,
    LookIn = 606,
    FileNameCaption = 607,
    FileTypeCaption = 608,
    Folder = 609, // the type of a folder in the file dialog's list
    PdfFiles = 613,
    NoReportToSave = 614,
    PdfNotWritten = 615,
    // The system's reasons (see systemReason).
    ReasonNoSuchFile = 620,
    ReasonPermission = 621,
    ReasonNoSpace = 622,
    ReasonQuota = 623,
    ReasonReadOnly = 624,
    ReasonFolderInTheWay = 625,
    ReasonNotAFolder = 626,
    ReasonBusy = 627,
    ReasonIo = 628,
    ReasonNoDevice = 629,
    ReasonTooManyFiles = 630,
    ReasonNameTooLong = 631,
    ReasonExists = 632,
    ReasonNotLocked = 633,
    ReasonRefused = 634,
    ReasonHostNotFound = 635,
    ReasonUnreachable = 636,
    ReasonClosedByPeer = 637,
    ReasonFileTooLarge = 638, // a file-size limit (EFBIG)
    InstrumentOutOfRange = 640,
    TimeoutNotANumber = 641,
    PortNotOpenedNamed = 642,
    InstrumentNotANumber = 643, // "Instrument number \"%1\" is not a number from 0 to 95."
    SelectAll = 650,            // the item selection dialog
    ClearAll = 651,
    HowToBegin = 652, // "... %1 ...": the menu path of Unit selection
    // The CSV files' encoding.
    MenuCsvEncoding = 660,
    CsvUtf8 = 661,
    CsvUtf8Bom = 662,
    CsvShiftJis = 663,
    CsvFileEncodingKept = 664, // " (in %1, the encoding the file already has)"
    CsvCannotHold = 665,       // "... in %1 ... \"%2\"": the encoding, the character
    // The command line's messages and the lines around its output.
    CliUnknownOption = 700,   // "unknown option '%1' (see --help)"
    CliMissingValue = 701,    // "missing value after '%1' ..."
    CliUnexpectedValue = 702, // "unexpected value after '%1' ..."
    CliNoCommand = 703,
    CliUnknownCommand = 704, // "unknown command %1 ..."
    CliNotForCommand = 705,  // "%1 does not apply to %2 ...": option, command
    CliExtraArgument = 706,  // "unexpected argument %1 (see %2 --help)"
    CliMustBe = 707,         // "%1 must be %2": option, its choices
    CliMustBeRange = 708,    // "%1 must be %2..%3"
    CliMustBeRangeMs = 709,  // "%1 must be %2..%3 ms"
    CliInstrumentList = 710, // "%1 must be %2..%3 or a list of them such as 1,3,5-9"
    CliOutNeedsNumber = 711, // --out with several instruments
    CliTableRequired = 712,
    CliNeedsOneCsv = 713,
    CliNeedsPdf = 714,
    CliNeedsFile = 715,   // "%1 needs a file: ... standard output (-)": the option
    CliPdfTerminal = 716, // a PDF for a terminal
    CliCannotWrite = 717, // "cannot write %1: %2": file, reason
    CliStandardOutput = 718,
    CliNotWrittenInterrupted = 719, // "not written: %1 (...)": the file --out names
    CliNotWrittenLost = 720,
    CliNotWrittenStopped = 721,
    CliEncodingKept = 722,   // "written in %1, the encoding the file already has"
    CliInstrumentExit = 723, // "instrument %1: exit %2"
    CliProgressRead = 724,   // "read  %1/%2  %3": n, m, address
    CliProgressWrite = 725,
    CliFindTry = 726, // "try %1/%2  %3"
    CliFound = 727,   // "found: %1 — %2": where, the answer
    CliDevicesFound = 728,
    CliNoneFound = 729,
    CliNoDevice = 730,
    CliAutomatic = 731,
    CliMapped = 732,
    CliNotRead = 733,    // " (%1 not read: %2)" after compare's counts
    CliCannotRead = 734, // "cannot read %1: %2": file, reason
    // A program that cannot start.
    WindowCannotOpen = 750, // "the window cannot open: %1": the toolkit's reason
    // What screen readers say of controls that show no caption of their own.
    NameOfItem = 760,         // "Name of item %1": a page's name cell
    ValueCellHint = 761,      // how a page's value cell is changed
    ItemFailedLastTime = 762, // a value cell of an item that failed
    NewValueOf = 763,         // "New value of %1": the value dialog's entry
    TransferProgress = 764,
    SearchProgress = 765,
    ExchangesTable = 766,
    ComparedItems = 767,
    FoundInstruments = 768,
    ZoomCaption = 769,
    PageNumber = 770,
    MoreTools = 771,
    ClearFindText = 772,
    GuideText = 773,
    ScrollTabsLeft = 774,
    ScrollTabsRight = 775,
    // Instrument profiles and watching live items.
    ProfileAtLine = 800,
    ProfileTooLarge = 801,
    ProfileNotUtf8 = 802,
    ProfileNotKeyValue = 803,
    ProfileKeyOutsideSection = 804,
    ProfileBadSection = 805,
    ProfileSectionTwice = 806,
    ProfileUnknownKey = 807,
    ProfileKeyTwice = 808,
    ProfileBadNumber = 809,
    ProfileMinAboveMax = 810,
    ProfileBadKind = 811,
    ProfileBadText = 812,
    ProfileRangeBoth = 813,
    ProfileRangeFrom = 814,
    ProfileRangeUpTo = 815,
    ProfileRefused = 816,
    ProfileInUse = 817,
    PadRange = 818,
    PadBelowMin = 819,
    PadAboveMax = 820,
    TipUnit = 821,
    TipRange = 822,
    TipLive = 823,
    TipReadonly = 824,
    LeftOutOfWrite = 825,
    LeftOutOfCompare = 826,
    IncludeLive = 827,
    WatchLive = 828,
    WatchInterval = 829,
    WatchTrend = 830,
    WatchNoLive = 831,
    ProfileWouldUse = 832,
    ProfileNone = 833,
    WatchTime = 834,
    CliWatchNeedsLive = 835,
    ProfileItemLine = 836,
    ProfileNotAFile = 837,
    // The change log, its history window and the commissioning record.
    ChangeLogCannotWrite = 850,
    ChangeLogFailed = 851,
    ChangeLogTornSetAside = 852,
    ChangeHistoryMenu = 853,
    ChangeHistoryTitle = 854,
    HistoryInstrument = 855,
    HistoryItem = 856,
    HistoryFrom = 857,
    HistoryTo = 858,
    HistoryAll = 859,
    HistoryTime = 860,
    HistoryUser = 861,
    HistoryPort = 862,
    HistoryName = 863,
    HistoryBefore = 864,
    HistoryWritten = 865,
    HistoryOutcome = 866,
    HistoryCounts = 867,
    HistorySavePdf = 868,
    HistorySaveCsv = 869,
    OutcomeConfirmed = 870,
    OutcomeVerified = 871,
    OutcomeNotKept = 872,
    OutcomeRefusedCode = 873,
    OutcomeUnconfirmed = 874,
    OutcomeNoAnswerRecord = 875,
    OutcomeDamaged = 876,
    OutcomeLostRecord = 877,
    CommissioningTitle = 878,
    CommissioningTransfer = 879,
    CommissioningPeriod = 880,
    CommissioningTableFile = 881,
    CommissioningHost = 882,
    CommissioningAfter = 883,
    HistoryTransfer = 884,
    HistoryThisTransfer = 885,
    HistoryUnreadable = 886,
    HistoryReload = 887,
    HistoryClose = 888,
    HistoryEmpty = 889,
    CliHistoryBadDate = 890,
    CliHistoryBadInstrument = 891,
    CommissioningPage = 892,
    CommissioningNone = 893,
};

namespace strings {

enum class Lang { English, Japanese };

// Japanese when the user's locale (LANG / LC_ALL / LC_MESSAGES) is Japanese,
// English for every other user. Decided once at start-up.
Lang languageFromLocale();

// The language of this run; English until set.
void setLanguage(Lang lang);
Lang language();

// Text of an id in the run's language, or in `lang`; empty for an id not in the table.
QString text(TextId id);
QString text(TextId id, Lang lang);

// A button's caption with its access key (Alt+key): in English "&" before the key's first
// occurrence ("&Read"), or " (&K)" appended when the text lacks it; in Japanese "(&K)"
// appended ("読込み(&R)").
QString withAccessKey(TextId id, char key);
QString withAccessKey(TextId id, char key, Lang lang);
// A caption as it reads without its access key: "File(&F)" and "&Read" read "File" and
// "Read"; "&&" stands for "&".
QString withoutAccessKey(const QString& caption);

// Every id in the table, in table order (each once).
QList<int> allIds();

// "PMX-31570A Setting software": the title of the main window, the report and the export.
QString programTitle(Lang lang);

// Fixed texts, the same in every language. The file dialogs' filters, as
// "description|pattern":
inline constexpr char kModelFileFilter[] = "*.txt(text file)|*.txt";
inline constexpr char kDataFileFilter[] = "*.dat(data file)|*.dat";
inline constexpr char kCsvFileFilter[] = "*.csv(Comma Separated Values)|*.csv";
// The report's page footer: %p the page, %P the number of pages.
inline constexpr char kPageFooter[] = "Page %p of %P";
// The buttons of the value and item selection dialogs.
inline constexpr char kOk[] = "OK";
inline constexpr char kCancel[] = "Cancel";

} // namespace strings
} // namespace pmx
