<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>MainWindow</name>
    <message>
        <source>%1 is invalid!</source>
        <translation>%1无效!</translation>
    </message>
    <message>
        <source>(Optional)</source>
        <translation>(可选)</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;1.Get CpuID&lt;/p&gt;&lt;p&gt;2.Encrypt&lt;/p&gt;&lt;p&gt;3.Write&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;1.读取CpuID&lt;/p&gt;&lt;p&gt;2.加密&lt;/p&gt;&lt;p&gt;3.写入&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;1.Select Data&lt;/p&gt;&lt;p&gt;2.Encrypt(Optional)&lt;/p&gt;&lt;p&gt;3.Write&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;1.选择写入数据&lt;/p&gt;&lt;p&gt;2.加密(可选)&lt;/p&gt;&lt;p&gt;3.写入&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;1.Select Oem Key&lt;/p&gt;&lt;p&gt;2.Write&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;1.选择Oem密钥&lt;/p&gt;&lt;p&gt;2.写入&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Action failed,err=%1!</source>
        <translation>执行失败,错误码=%1!</translation>
    </message>
    <message>
        <source>Action is still running,stop quit!</source>
        <translation>还有操作在执行,停止退出!</translation>
    </message>
    <message>
        <source>Action ok.</source>
        <translation>执行成功</translation>
    </message>
    <message>
        <source>Basic Level</source>
        <translation>初级</translation>
    </message>
    <message>
        <source>Browse...</source>
        <translation>浏览...</translation>
    </message>
    <message>
        <source>Data...</source>
        <translation>数据...</translation>
    </message>
    <message>
        <source>Dll did not support to do basic action!</source>
        <translation>动态库不支持初级操作!</translation>
    </message>
    <message>
        <source>Dll did not support to do high action!</source>
        <translation>动态库不支持高级操作!</translation>
    </message>
    <message>
        <source>Dll did not support to do middle action!</source>
        <translation>动态库不支持中级操作!</translation>
    </message>
    <message>
        <source>Dll is not loaded!</source>
        <translation>动态库未加载!</translation>
    </message>
    <message>
        <source>Dll:</source>
        <translation>动态库:</translation>
    </message>
    <message>
        <source>Failed to load %1!</source>
        <translation>加载%1失败!</translation>
    </message>
    <message>
        <source>High Level</source>
        <translation>高级</translation>
    </message>
    <message>
        <source>Key...</source>
        <translation>密钥...</translation>
    </message>
    <message>
        <source>Korvane</source>
        <translation>科尔瓦内</translation>
    </message>
    <message>
        <source>Middle Level</source>
        <translation>中级</translation>
    </message>
    <message>
        <source>No key file!</source>
        <translation>密钥未选择!</translation>
    </message>
    <message>
        <source>No plain file!</source>
        <translation>明文未选择!</translation>
    </message>
    <message>
        <source>Run</source>
        <translation>执行</translation>
    </message>
    <message>
        <source>Select a Dll</source>
        <translation>选择一个动态库</translation>
    </message>
    <message>
        <source>Select a Key</source>
        <translation>选择密钥</translation>
    </message>
    <message>
        <source>Select a Plain</source>
        <translation>选择明文</translation>
    </message>
    <message>
        <source>action can only work on the loader device!</source>
        <translation>当前操作只支持loader设备!</translation>
    </message>
    <message>
        <source>no available device!</source>
        <translation>没有可操作设备!</translation>
    </message>
    <message>
        <source>size invalid for key file!</source>
        <translation>无效的密钥文件大小</translation>
    </message>
    <message>
        <source>size invalid for plain file!</source>
        <translation>无效的明文文件大小</translation>
    </message>
    <message>
        <source>Line: online</source>
        <translation>产线数据库：在线</translation>
    </message>
    <message numerus="yes">
        <source>Line: offline, %n records waiting</source>
        <translation>
            <numerusform>产线数据库：离线，%n 条记录待上传</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>ReportPage</name>
    <message>
        <source>%1 %</source>
        <translation>%1%</translation>
    </message>
    <message>
        <source>%1 d %2 h</source>
        <translation>%1 天 %2 小时</translation>
    </message>
    <message>
        <source>%1 h %2 min</source>
        <translation>%1 小时 %2 分钟</translation>
    </message>
    <message>
        <source>%1 min</source>
        <translation>%1 分钟</translation>
    </message>
    <message>
        <source>Basic</source>
        <translation>初级</translation>
    </message>
    <message>
        <source>Middle</source>
        <translation>中级</translation>
    </message>
    <message>
        <source>High</source>
        <translation>高级</translation>
    </message>
    <message>
        <source>The period at a glance</source>
        <translation>本期概览</translation>
    </message>
    <message>
        <source>Units</source>
        <translation>产品数</translation>
    </message>
    <message>
        <source>distinct CPU ids of Basic actions</source>
        <translation>初级操作涉及的不同 CPU id</translation>
    </message>
    <message>
        <source>First-pass yield</source>
        <translation>首次通过率</translation>
    </message>
    <message>
        <source>%1 of %2 units passed their first Basic attempt</source>
        <translation>%2 件中 %1 件初级操作一次通过</translation>
    </message>
    <message>
        <source>Attempt yield</source>
        <translation>操作通过率</translation>
    </message>
    <message>
        <source>%1 of %2 actions of every level passed</source>
        <translation>各级共 %2 次操作中 %1 次成功</translation>
    </message>
    <message>
        <source>Refused duplicates</source>
        <translation>拒绝的重复</translation>
    </message>
    <message>
        <source>Basic actions refused: CPU id already written or in doubt</source>
        <translation>被拒绝的初级操作：CPU id 已写入或状态不明</translation>
    </message>
    <message>
        <source>Claims in doubt</source>
        <translation>状态不明的占用</translation>
    </message>
    <message>
        <source>boards that may or may not have been written</source>
        <translation>可能已写入也可能未写入的板子</translation>
    </message>
    <message>
        <source>Chains broken</source>
        <translation>断链</translation>
    </message>
    <message>
        <source>records missing, changed or out of order</source>
        <translation>记录缺失、被改动或顺序错乱</translation>
    </message>
    <message>
        <source>CPU ids written twice</source>
        <translation>重复写入的 CPU id</translation>
    </message>
    <message>
        <source>boards a successful Basic action wrote more than once</source>
        <translation>被成功的初级操作写入多次的板子</translation>
    </message>
    <message>
        <source>Per station and day</source>
        <translation>按工位和日期</translation>
    </message>
    <message>
        <source>No records in this period.</source>
        <translation>本期没有记录。</translation>
    </message>
    <message>
        <source>Units per day, on one scale (highest: %1):</source>
        <translation>每日产品数，统一刻度（最高：%1）：</translation>
    </message>
    <message>
        <source>passed the first time</source>
        <translation>一次通过</translation>
    </message>
    <message>
        <source>needed another attempt</source>
        <translation>需要重试</translation>
    </message>
    <message>
        <source>%1: %2 units, %3 passed the first time</source>
        <translation>%1：%2 件，%3 件一次通过</translation>
    </message>
    <message>
        <source>Station</source>
        <translation>工位</translation>
    </message>
    <message>
        <source>Day</source>
        <translation>日期</translation>
    </message>
    <message>
        <source>Attempts</source>
        <translation>操作次数</translation>
    </message>
    <message>
        <source>Failures</source>
        <translation>失败次数</translation>
    </message>
    <message>
        <source>Failures by exit code</source>
        <translation>按错误码统计的失败</translation>
    </message>
    <message>
        <source>No failed actions in this period.</source>
        <translation>本期没有失败的操作。</translation>
    </message>
    <message>
        <source>%1: %2 failures</source>
        <translation>%1：%2 次失败</translation>
    </message>
    <message>
        <source>Bars: failures per exit code; line: their cumulative share.</source>
        <translation>柱：各错误码的失败次数；线：累计占比。</translation>
    </message>
    <message>
        <source>Exit code</source>
        <translation>错误码</translation>
    </message>
    <message>
        <source>What happened</source>
        <translation>含义</translation>
    </message>
    <message>
        <source>Share</source>
        <translation>占比</translation>
    </message>
    <message>
        <source>Cumulative</source>
        <translation>累计</translation>
    </message>
    <message>
        <source>%1 s</source>
        <translation>%1 秒</translation>
    </message>
    <message>
        <source>%1 ms</source>
        <translation>%1 毫秒</translation>
    </message>
    <message>
        <source>Throughput and cycle time</source>
        <translation>产能与节拍</translation>
    </message>
    <message>
        <source>%1:00–%1:59: %2 units written</source>
        <translation>%1:00–%1:59：写入 %2 件</translation>
    </message>
    <message>
        <source>Units written by hour of the day (local time)</source>
        <translation>按小时统计的写入件数（本地时间）</translation>
    </message>
    <message>
        <source>No unit was written in this period.</source>
        <translation>本期没有写入任何产品。</translation>
    </message>
    <message>
        <source>Cycle time per level</source>
        <translation>各级操作耗时</translation>
    </message>
    <message>
        <source>Level</source>
        <translation>级别</translation>
    </message>
    <message>
        <source>Actions</source>
        <translation>操作数</translation>
    </message>
    <message>
        <source>Median</source>
        <translation>中位数</translation>
    </message>
    <message>
        <source>95th percentile</source>
        <translation>95 百分位</translation>
    </message>
    <message>
        <source>Histogram</source>
        <translation>分布</translation>
    </message>
    <message>
        <source>%1: %2 actions</source>
        <translation>%1：%2 次操作</translation>
    </message>
    <message>
        <source>What needs attention</source>
        <translation>需要关注的事项</translation>
    </message>
    <message>
        <source>Stations</source>
        <translation>工位</translation>
    </message>
    <message>
        <source>No station has a record.</source>
        <translation>没有工位有记录。</translation>
    </message>
    <message>
        <source>Last record</source>
        <translation>最后记录</translation>
    </message>
    <message>
        <source>Last upload</source>
        <translation>最后上传</translation>
    </message>
    <message>
        <source>State</source>
        <translation>状态</translation>
    </message>
    <message>
        <source>silent for %1</source>
        <translation>已静默 %1</translation>
    </message>
    <message>
        <source>active</source>
        <translation>活动</translation>
    </message>
    <message>
        <source>None.</source>
        <translation>无。</translation>
    </message>
    <message>
        <source>The program that claimed these CPU ids ended before it recorded the action: the board may or may not have been written. Check each board (read it back or set it aside), then release its claim:</source>
        <translation>占用这些 CPU id 的程序在记录操作之前就结束了：板子可能已写入，也可能未写入。请逐块检查（回读或搁置），然后释放其占用：</translation>
    </message>
    <message>
        <source>CPU id</source>
        <translation>CPU id</translation>
    </message>
    <message>
        <source>Since</source>
        <translation>开始于</translation>
    </message>
    <message>
        <source>Age</source>
        <translation>已持续</translation>
    </message>
    <message>
        <source>Broken chains</source>
        <translation>断链</translation>
    </message>
    <message>
        <source>A record is missing, was changed or came out of order. Check the station&apos;s trace file of that day, which names the first bad line:</source>
        <translation>有记录缺失、被改动或顺序错乱。请检查该工位当天的追溯记录文件，它会指出第一处错误行：</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>记录</translation>
    </message>
    <message>
        <source>Line</source>
        <translation>行</translation>
    </message>
    <message>
        <source>Why</source>
        <translation>原因</translation>
    </message>
    <message>
        <source>A successful Basic action wrote each of these boards more than once. Set the boards aside; every record of one shows when and where:</source>
        <translation>这些板子都被成功的初级操作写入了不止一次。请将板子搁置；查看其全部记录可知时间和地点：</translation>
    </message>
    <message>
        <source>Written on</source>
        <translation>写入工位</translation>
    </message>
    <message>
        <source>At</source>
        <translation>时间</translation>
    </message>
    <message>
        <source>%1 to %2</source>
        <translation>%1 至 %2</translation>
    </message>
    <message>
        <source>success</source>
        <translation>成功</translation>
    </message>
    <message>
        <source>Basic: the board did not take the encrypted CPU id</source>
        <translation>初级：板子未接受加密后的 CPU id</translation>
    </message>
    <message>
        <source>Basic: the plug-in refused to encrypt the CPU id</source>
        <translation>初级：插件拒绝加密 CPU id</translation>
    </message>
    <message>
        <source>Basic: the board&apos;s OTP data holds no valid CPU id</source>
        <translation>初级：板子的 OTP 数据中没有有效的 CPU id</translation>
    </message>
    <message>
        <source>Basic: the CPU id could not be read from the board</source>
        <translation>初级：无法从板子读取 CPU id</translation>
    </message>
    <message>
        <source>Middle: the board did not take the proof data</source>
        <translation>中级：板子未接受证明数据</translation>
    </message>
    <message>
        <source>Middle: the plug-in refused to encrypt the data</source>
        <translation>中级：插件拒绝加密数据</translation>
    </message>
    <message>
        <source>High: the board did not take the OEM key</source>
        <translation>高级：板子未接受 OEM 密钥</translation>
    </message>
    <message>
        <source>Basic or High: the key file could not be read</source>
        <translation>初级或高级：无法读取密钥文件</translation>
    </message>
    <message>
        <source>Middle: the data file could not be read</source>
        <translation>中级：无法读取数据文件</translation>
    </message>
    <message>
        <source>Middle: the data file grew beyond 65535 bytes</source>
        <translation>中级：数据文件超过 65535 字节</translation>
    </message>
    <message>
        <source>Basic: the CPU id was already written or is in doubt</source>
        <translation>初级：CPU id 已写入或状态不明</translation>
    </message>
    <message>
        <source>Basic: the line database did not answer</source>
        <translation>初级：产线数据库无响应</translation>
    </message>
    <message>
        <source>Basic: the CPU id could not be claimed in the trace folder</source>
        <translation>初级：无法在追溯记录文件夹中占用 CPU id</translation>
    </message>
    <message>
        <source>an action of no known level</source>
        <translation>未知级别的操作</translation>
    </message>
    <message>
        <source>an exit code this program does not know</source>
        <translation>本程序不认识的错误码</translation>
    </message>
    <message>
        <source>all stations</source>
        <translation>全部工位</translation>
    </message>
    <message>
        <source>Line report, %1</source>
        <translation>产线报告，%1</translation>
    </message>
    <message>
        <source>en</source>
        <comment>the page&apos;s language tag</comment>
        <translation>zh-CN</translation>
    </message>
    <message>
        <source>A unit is a CPU id; it counts on the station and day of its first Basic attempt in the period, and passed the first time when that attempt did.</source>
        <translation>一件产品即一个 CPU id；它计入本期首次初级操作所在的工位和日期，该次操作成功即为一次通过。</translation>
    </message>
    <message>
        <source>no records</source>
        <translation>无记录</translation>
    </message>
    <message>
        <source>… and %1 more.</source>
        <translation>……另有 %1 项。</translation>
    </message>
    <message>
        <source>From the line database %1, read %2. Days are the stations&apos; local days; times are this computer&apos;s local time.</source>
        <translation>数据来自产线数据库 %1，读取于 %2。日期为各工位的本地日期；时间为本机本地时间。</translation>
    </message>
    <message>
        <source>From the trace folder %1, read %2. Days are the stations&apos; local days; times are this computer&apos;s local time.</source>
        <translation>数据来自追溯记录文件夹 %1，读取于 %2。日期为各工位的本地日期；时间为本机本地时间。</translation>
    </message>
</context>
<context>
    <name>ThreadWorker</name>
    <message>
        <source>basic action done</source>
        <translation>初级操作执行成功</translation>
    </message>
    <message>
        <source>encode cpuid...</source>
        <translation>加密cpuid...</translation>
    </message>
    <message>
        <source>encode cpuid...fail</source>
        <translation>加密cpuid...失败</translation>
    </message>
    <message>
        <source>encode data...</source>
        <translation>正在加密明文...</translation>
    </message>
    <message>
        <source>encode data...fail</source>
        <translation>加密明文...失败</translation>
    </message>
    <message>
        <source>high action done</source>
        <translation>高级操作执行成功</translation>
    </message>
    <message>
        <source>invalid action</source>
        <translation>无效操作</translation>
    </message>
    <message>
        <source>middle action done</source>
        <translation>中级操作执行成功</translation>
    </message>
    <message>
        <source>read cpuid...</source>
        <translation>读取cpuid...</translation>
    </message>
    <message>
        <source>read cpuid...fail</source>
        <translation>读取cpuid...失败</translation>
    </message>
    <message>
        <source>read data file...fail</source>
        <translation>读取明文文件...失败</translation>
    </message>
    <message>
        <source>read key file...fail</source>
        <translation>读取密钥文件...失败</translation>
    </message>
    <message>
        <source>write cpuid...</source>
        <translation>写入cpuid...</translation>
    </message>
    <message>
        <source>write cpuid...fail</source>
        <translation>写入cpuid...失败</translation>
    </message>
    <message>
        <source>write encoded data...</source>
        <translation>正在写入密文数据...</translation>
    </message>
    <message>
        <source>write encoded data...fail</source>
        <translation>写入密文数据...失败</translation>
    </message>
    <message>
        <source>write oem key...</source>
        <translation>正在写入oem密钥...</translation>
    </message>
    <message>
        <source>write oem key...fail</source>
        <translation>写入oem密钥...失败</translation>
    </message>
    <message>
        <source>check cpuid...fail</source>
        <translation>检查cpuid...失败</translation>
    </message>
    <message>
        <source>cpuid already written at %1</source>
        <translation>cpuid已于%1写入</translation>
    </message>
    <message>
        <source>cpuid in doubt since %1 on %2</source>
        <translation>cpuid自%1起在%2上状态不明</translation>
    </message>
    <message>
        <source>check trace...fail</source>
        <translation>检查追溯记录...失败</translation>
    </message>
    <message>
        <source>write trace...fail</source>
        <translation>写入追溯记录...失败</translation>
    </message>
    <message>
        <source>cpuid already written at %1 on %2</source>
        <translation>cpuid已于%1在%2上写入</translation>
    </message>
    <message>
        <source>check line database...fail</source>
        <translation>检查产线数据库...失败</translation>
    </message>
</context>
</TS>
