// The diagnostic line appended once per cycle while the log switch is 1.
#pragma once

// The line's template, the one source of its labels. Its 21 conversions, in
// order: the cycle's time stamp, night, morning, on_temp, off_temp, status,
// in_power, aim_temp, temp_batery, temp_board, temp, aim, aim_current, the
// current (mA), the capacity (%), integral, differential, device,
// device_status, phonemodel, PID_version.
constexpr char kLogLineFormat[] =
    "%s,晚上=%d到早上=%d,亮屏温度=%d,息屏温度=%d,状态=%s,功率配置=%d目标温度=%d,电池温度%d,"
    "主板温度%d,平均温度%d,计算值=%d,目标电流=%dmA,当前电流=%dmA,电量=%d,积分值=%d,微分值=%d,"
    "%s,%s,%s,%s\n";
// Positions of conversions in kLogLineFormat that readers of the log use.
enum LogField {
    kLogStamp = 0,
    kLogTarget = 7,
    kLogBattery = 8,
    kLogBoard = 9,
    kLogLimit = 12,
    kLogCurrent = 13,
    kLogCapacity = 14,
    kLogFieldCount = 21,
};

// Appends one line of 21 fields to the log file beside the settings: the
// settings, the cycle's readings, the regulator state, the platform tags, and
// the battery current (mA, positive while charging) and capacity (%) read now.
// A log that cannot be opened is reported as "无法打开输出文件" and skipped.
void debug();
