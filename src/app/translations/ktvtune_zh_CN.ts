<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>ktv::Core</name>
    <message>
        <source>no usb device 2</source>
        <translation>未找到 USB 设备 2</translation>
    </message>
    <message>
        <source>The DSP box was found but cannot be opened: permission denied.
Install the udev rule 70-ktvtune.rules (see README), then plug the box in again.</source>
        <translation>找到了 DSP 设备，但无权打开。
请安装 udev 规则 70-ktvtune.rules（见 README），然后重新插入设备。</translation>
    </message>
    <message>
        <source>Write:ok!</source>
        <translation>写:成功!</translation>
    </message>
    <message>
        <source>Write:error!</source>
        <translation>写:错误!</translation>
    </message>
    <message>
        <source>ReadFile:error!</source>
        <translation>读取:错误!</translation>
    </message>
    <message>
        <source>CheckSum:error!</source>
        <translation>校验和:错误!</translation>
    </message>
    <message>
        <source>Write:fault!</source>
        <translation>写:失败!</translation>
    </message>
    <message>
        <source>Read:fault!</source>
        <translation>读:失败!</translation>
    </message>
    <message>
        <source>Read:Ok!</source>
        <translation>读:成功!</translation>
    </message>
    <message>
        <source>Error!</source>
        <translation>错误!</translation>
    </message>
    <message>
        <source>the file cannot be opened</source>
        <translation>无法打开文件</translation>
    </message>
    <message>
        <source>the file is shorter than 465 bytes</source>
        <translation>文件不足 465 字节</translation>
    </message>
    <message>
        <source>the file does not start with the preset marker</source>
        <translation>文件开头不是预设标记</translation>
    </message>
    <message>
        <source>the file does not end with the preset marker</source>
        <translation>文件结尾不是预设标记</translation>
    </message>
    <message>
        <source>the checksum does not match (the file is damaged)</source>
        <translation>校验和不符（文件已损坏）</translation>
    </message>
</context>
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
