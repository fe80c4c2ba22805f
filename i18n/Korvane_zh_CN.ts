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
