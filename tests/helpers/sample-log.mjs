// A made-up PID_log for the settings page's chart: count lines, one cycle
// (10 s) apart from 2031-01-01 00:00, of a charge that warms and cools.
//   node tests/helpers/sample-log.mjs [count] > PID_log
export function logLines(count) {
  let text = '';
  for (let i = 0; i < count; ++i) {
    const stamp = new Date(Date.UTC(2031, 0, 1) + i * 10000).toISOString().slice(0, 19)
        .replace('T', ' ');
    const limit = 1435 + Math.round(600 * Math.sin(i / 700));
    text += `${stamp},晚上=22到早上=7,亮屏温度=40000,息屏温度=38000,状态=Charging,` +
      `功率配置=27目标温度=39000,电池温度${385 + Math.round(8 * Math.sin(i / 500))},` +
      `主板温度${37500 + Math.round(900 * Math.sin(i / 650))},平均温度38000,计算值=29,` +
      `目标电流=${limit}mA,当前电流=${limit - 60}mA,电量=${Math.min(100, 15 + Math.floor(i / 80))},` +
      '积分值=1,微分值=-2,高通,老机型,phone,v1\n';
  }
  return text;
}

if (import.meta.url === `file://${process.argv[1]}`) {
  process.stdout.write(logLines(Number(process.argv[2] ?? 8640)));
}
