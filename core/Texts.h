#pragma once
// The captions, messages and limits of the card station that more than one
// place needs, UTF-8. Each is defined here once.

namespace station {

// A track's file label while no record file is chosen.
inline constexpr char kNoFileCaption[] = "文件名";

inline constexpr char kSelectPortFirst[] = "请先选择端口打开......";
inline constexpr char kPortUnavailable[] = "串口不存在或被占用。";
inline constexpr char kPortNotOpen[] = "串口未打开。";
inline constexpr char kCommandTooLong[] = "数据超长，未发送。";
inline constexpr char kPortOpenSuffix[] = "－－－OK";
inline constexpr char kPortClosedSuffix[] = ":Close";
inline constexpr char kLineLost[] = "串口连接已断开，正在等待设备重新连接……";
inline constexpr char kLineBack[] = "串口已重新连接。";
inline constexpr char kWriteLineLost[] = "写卡提示信息：设备断开，本张卡未确认写入";

inline constexpr char kSwipePrompt[] = "提示信息：请刷卡！";
inline constexpr char kReadFailed[] = "读卡提示信息：读卡错误，请重新刷卡";
inline constexpr char kReadSucceeded[] = "读卡成功,请刷下一张卡";
inline constexpr char kReadShown[] = "读卡成功,数据显示在对应磁道数据内容内";

inline constexpr char kWritePrompt[] = "写卡提示：请在写卡灯亮后刷卡";
inline constexpr char kWriteSucceeded[] = "写卡提示信息：写卡成功，请新写下一张卡";
inline constexpr char kWriteFailed[] = "写卡提示信息：写卡错误，请重新刷卡";
inline constexpr char kWriteFinishedBefore[] = "写卡提示信息:";
inline constexpr char kWriteFinishedAfter[] = "次写成功,写卡完毕！";
inline constexpr char kContinuousDone[] = "写卡成功,显示的数据为下一张卡的数据";
inline constexpr char kTrack2FileDone[] = "磁道1读文件写卡成功完成";
inline constexpr char kTrack3FileDone[] = "磁道2读文件写卡成功完成";
// The write hint after the wait for the swipe ran out: with no reply at all
// the card was not written; with a reply that decided nothing it may have been.
inline constexpr char kWriteTimedOut[] = "写卡提示信息：超时未写入，请重按写卡";
inline constexpr char kWriteTimedOutUndecided[] = "写卡提示信息：超时，本张卡未确认写入";

inline constexpr char kNoSeconds[] = "00";

// The duplicate question: kDuplicateBefore + text + kDuplicateTrack + n +
// kDuplicateAt + local time + kDuplicateAfter.
inline constexpr char kDuplicateBefore[] = "卡号 ";
inline constexpr char kDuplicateTrack[] = "（磁道";
inline constexpr char kDuplicateAt[] = "）已于 ";
inline constexpr char kDuplicateAfter[] = " 写过。仍要写入吗？";
// A number sent to the device without a decision: kDuplicateBefore + text +
// kDuplicateTrack + n + kUnconfirmedAt + local time + kUnconfirmedSent +
// reason + kUnconfirmedAfter.
inline constexpr char kUnconfirmedAt[] = "）于 ";
inline constexpr char kUnconfirmedSent[] = " 发送给读写器后没有得到确认（";
inline constexpr char kUnconfirmedAfter[] = "），卡上可能已有此号。仍要写入吗？";
// A number another station is writing now: kDuplicateBefore + text +
// kDuplicateTrack + n + kReservedBy + station + kReservedSince + local time +
// kReservedAfter.
inline constexpr char kReservedBy[] = "）正由 ";
inline constexpr char kReservedSince[] = " 写卡（";
inline constexpr char kReservedAfter[] = " 起）。仍要写入吗？";
// A card the device wrote but the journal could not keep; the reason follows.
inline constexpr char kWriteNotJournaled[] = "卡已写入，但写卡记录无法保存，写卡已停止：";
// The journal cannot take a reservation, so nothing is written; the reason follows.
inline constexpr char kJournalUnreachable[] = "无法连接写卡记录数据库：";
// Panel 2 when a continuous track steps past a number another station holds:
// kNumberTakenBefore + n + kNumberTakenBy + station + kNumberTakenRewrite + m.
inline constexpr char kNumberTakenBefore[] = "卡号 ";
inline constexpr char kNumberTakenBy[] = " 已被 ";
inline constexpr char kNumberTakenRewrite[] = " 使用，改写 ";
// Panel 2 at start: kRecoveredBefore + N + kRecoveredAfter.
inline constexpr char kRecoveredBefore[] = "已恢复上次未保存的 ";
inline constexpr char kRecoveredAfter[] = " 条写卡记录。";
// Panel 2 when a journal that could not be opened opens after all.
inline constexpr char kJournalBack[] = "写卡记录已恢复。";
// Panel 2 while a reservation or a commit waits for the journal.
inline constexpr char kJournalWait[] = "正在等待写卡记录数据库……";
// At start, when SQLite's check finds the journal's file damaged; the finding follows.
inline constexpr char kJournalIncomplete[] = "写卡记录可能不完整：";
// At start, when saved lists held numbers the journal lacked:
// kJournalIncomplete + kListsRestoredBefore + N + kListsRestoredAfter.
inline constexpr char kListsRestoredBefore[] = "已从已保存的卡号清单补回 ";
inline constexpr char kListsRestoredAfter[] =
    " 张卡，重复写卡的检查已包括这些卡号。请在“记录”中核对，如有缺少请与维护人员联系。";
// Panel 2, once, when a card is read while the journal is closed.
inline constexpr char kReadsKept[] = "写卡记录未打开，读出的卡暂存在本程序中，写卡记录恢复后补记。";

// Seconds an armed read or write waits for a card before the device is reset.
inline constexpr int kWaitLimitTicks = 20;

// Device commands, hex.
inline constexpr char kResetCommand[] = "1B30";
inline constexpr char kStatusCommand[] = "1B6A";

}  // namespace station
