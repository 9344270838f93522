<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>ktv::TFormMain</name>
    <message>
        <source>Preset folder</source>
        <translation>预设文件夹</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>连接</translation>
    </message>
    <message>
        <source>Several boxes are present. Link to:</source>
        <translation>找到多台设备，连接到：</translation>
    </message>
    <message>
        <source>Preset folder...</source>
        <translation>预设文件夹...</translation>
    </message>
</context>
</TS>
