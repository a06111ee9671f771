// Every message velmora reports on its error stream, each followed by ": " and
// the system's text for errno. velmoractl quotes the two settings messages in
// its verdict on 配置, so that what it says is what velmora would stop with.
#pragma once

// 配置 cannot be opened: velmora stops.
constexpr char kMsgSettingsUnopened[] = "无法打开读取配置文件";
// 配置 holds fewer than its eight entries whole: velmora stops.
constexpr char kMsgSettingsIncomplete[] = "读取配置数据失败";
// Neither backlight node exists: velmora stops before its first cycle.
constexpr char kMsgNoBacklight[] = "不是适配处理器机型";
// The charge node cannot be opened for writing (velmora stops), or PID_log
// cannot be opened (the cycle's line is skipped).
constexpr char kMsgOutputUnopened[] = "无法打开输出文件";
// A node read as a number cannot be opened; it reads as 0.
constexpr char kMsgIntNodeUnopened[] = "读取字符串失败";
// A node read as a number holds none within int32; it reads as 0.
constexpr char kMsgIntNodeNoNumber[] = "读取传感器数据失败";
// The status node cannot be opened; it reads as "0".
constexpr char kMsgWordNodeUnopened[] = "无法打开输入文件";
// The status node holds no word; it reads as "0".
constexpr char kMsgWordNodeEmpty[] = "读取数据失败";
