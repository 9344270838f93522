<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>ktv::AnalyserDialog</name>
    <message>
        <source> dBFS</source>
        <translation> dBFS</translation>
    </message>
    <message>
        <source>1/24 octave</source>
        <translation>1/24 倍频程</translation>
    </message>
    <message>
        <source>1/3 octave</source>
        <translation>1/3 倍频程</translation>
    </message>
    <message>
        <source>1/6 octave</source>
        <translation>1/6 倍频程</translation>
    </message>
    <message>
        <source>Bands</source>
        <translation>频带</translation>
    </message>
    <message>
        <source>Frames averaged</source>
        <translation>平均帧数</translation>
    </message>
    <message>
        <source>Input</source>
        <translation>输入</translation>
    </message>
    <message>
        <source>Live analyser</source>
        <translation>实时分析仪</translation>
    </message>
    <message>
        <source>Noise level</source>
        <translation>噪声电平</translation>
    </message>
    <message>
        <source>Output</source>
        <translation>输出</translation>
    </message>
    <message>
        <source>Peak hold</source>
        <translation>峰值保持</translation>
    </message>
    <message>
        <source>Play pink noise</source>
        <translation>播放粉红噪声</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>开始</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>停止</translation>
    </message>
</context>
<context>
    <name>ktv::BandRows</name>
    <message>
        <source>Reset</source>
        <translation>复位</translation>
    </message>
    <message>
        <source>Type</source>
        <translation>类型</translation>
    </message>
    <message>
        <source>Fc/Hz</source>
        <translation>频率/Hz</translation>
    </message>
    <message>
        <source>Gain/db</source>
        <translation>增益/dB</translation>
    </message>
    <message>
        <source>Q</source>
        <translation>Q</translation>
    </message>
    <message>
        <source>Bypass</source>
        <translation>旁通</translation>
    </message>
    <message>
        <source>Parametric</source>
        <translation>参量</translation>
    </message>
    <message>
        <source>This band did not reach the box: the box may hold other values. &quot;Write to dsp&quot; sends everything.</source>
        <translation>此频段未送达设备：设备中的值可能不同。“写入设备”会发送全部设置。</translation>
    </message>
</context>
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
        <source>The DSP box was found but cannot be opened: access denied.
Close any other program that uses the box, then plug the box in again.</source>
        <translation>找到了 DSP 设备，但无法打开：访问被拒绝。
请关闭正在使用该设备的其他程序，然后重新插入设备。</translation>
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
    <message>
        <source>Connect:ok!</source>
        <translation>连接:成功!</translation>
    </message>
    <message>
        <source>Connect:no!</source>
        <translation>连接:失败!</translation>
    </message>
    <message>
        <source>DSP USB Plugin!</source>
        <translation>DSP USB 已插入!</translation>
    </message>
    <message>
        <source>DSP USB Plugout!</source>
        <translation>DSP USB 已拔出!</translation>
    </message>
    <message>
        <source>Write dsp ok!</source>
        <translation>写入设备成功!</translation>
    </message>
    <message>
        <source>Write dsp fault!</source>
        <translation>写入设备失败!</translation>
    </message>
    <message>
        <source>Read dsp ok!</source>
        <translation>读取设备成功!</translation>
    </message>
    <message>
        <source>Read dsp fault!</source>
        <translation>读取设备失败!</translation>
    </message>
    <message>
        <source>Set factory mode ok!</source>
        <translation>保存预设成功!</translation>
    </message>
    <message>
        <source>Set factory mode fault!</source>
        <translation>保存预设失败!</translation>
    </message>
    <message>
        <source>Set factory mode error!</source>
        <translation>预设号错误!</translation>
    </message>
    <message>
        <source>Reset factory mode Ok!</source>
        <translation>调用预设成功!</translation>
    </message>
    <message>
        <source>Reset factory mode fault!</source>
        <translation>调用预设失败!</translation>
    </message>
    <message>
        <source>Reset factory mode error!</source>
        <translation>预设号错误!</translation>
    </message>
    <message>
        <source>File name error!</source>
        <translation>文件名错误!</translation>
    </message>
    <message>
        <source>it is a directory</source>
        <translation>这是一个文件夹</translation>
    </message>
    <message>
        <source>it is not a regular file</source>
        <translation>这不是普通文件</translation>
    </message>
    <message>
        <source>the file cannot be read</source>
        <translation>无法读取文件</translation>
    </message>
    <message>
        <source>the file is read-only</source>
        <translation>文件为只读</translation>
    </message>
    <message>
        <source>no file can be created in its folder</source>
        <translation>无法在其文件夹中创建文件</translation>
    </message>
    <message>
        <source>the file cannot be written</source>
        <translation>无法写入文件</translation>
    </message>
</context>
<context>
    <name>ktv::FilterType</name>
    <message>
        <source>Low Pass</source>
        <translation>低通</translation>
    </message>
    <message>
        <source>High Pass</source>
        <translation>高通</translation>
    </message>
    <message>
        <source>Bell</source>
        <translation>峰值</translation>
    </message>
    <message>
        <source>Low Shelf</source>
        <translation>低架</translation>
    </message>
    <message>
        <source>High Shelf</source>
        <translation>高架</translation>
    </message>
    <message>
        <source>Band Pass</source>
        <translation>带通</translation>
    </message>
    <message>
        <source>Notch</source>
        <translation>陷波</translation>
    </message>
</context>
<context>
    <name>ktv::Reason</name>
    <message>
        <source>Line %1 &quot;%2&quot;: not applied: %3</source>
        <translation>第 %1 行 &quot;%2&quot;：未采用：%3</translation>
    </message>
    <message>
        <source>Line %1 &quot;%2&quot;: left out: the channel has %3 bands and the filters kept change the response more</source>
        <translation>第 %1 行 &quot;%2&quot;：略去：该通道只有 %3 段，保留的滤波器对响应的改变更大</translation>
    </message>
    <message>
        <source>Line %1 &quot;%2&quot;: band %3 %4 (%5)</source>
        <translation>第 %1 行 &quot;%2&quot;：第 %3 段 %4（%5）</translation>
    </message>
    <message>
        <source>%1 %2 Hz Q %3 %4 dB</source>
        <translation>%1 %2 Hz Q %3 %4 dB</translation>
    </message>
    <message>
        <source>%1 %2 Hz Q %3</source>
        <translation>%1 %2 Hz Q %3</translation>
    </message>
    <message>
        <source>type None</source>
        <translation>类型为无</translation>
    </message>
    <message>
        <source>an all-pass changes only the phase</source>
        <translation>全通滤波器只改变相位</translation>
    </message>
    <message>
        <source>OFF in the file: bypassed</source>
        <translation>文件中为关闭：已旁通</translation>
    </message>
    <message>
        <source>gain clamped from %1 dB</source>
        <translation>增益由 %1 dB 限定到范围内</translation>
    </message>
    <message>
        <source>gain rounded from %1 dB</source>
        <translation>增益由 %1 dB 取整</translation>
    </message>
    <message>
        <source>corner %1 Hz is centre %2 Hz</source>
        <translation>转折频率 %1 Hz 即中心频率 %2 Hz</translation>
    </message>
    <message>
        <source>slope S %1 as Q %2</source>
        <translation>斜率 S %1 换算为 Q %2</translation>
    </message>
    <message>
        <source>slope %1 dB/oct as Q %2</source>
        <translation>斜率 %1 dB/倍频程 换算为 Q %2</translation>
    </message>
    <message>
        <source>bandwidth %1 oct as Q %2</source>
        <translation>带宽 %1 倍频程 换算为 Q %2</translation>
    </message>
    <message>
        <source>T60 %1 ms as Q %2</source>
        <translation>T60 %1 ms 换算为 Q %2</translation>
    </message>
    <message>
        <source>Q %1 by default</source>
        <translation>默认 Q %1</translation>
    </message>
    <message>
        <source>type converted: first order as second order, Fc %1 Hz Q %2 fitted</source>
        <translation>类型已转换：一阶按二阶拟合，Fc %1 Hz Q %2</translation>
    </message>
    <message>
        <source>Fc %1 Hz held to %2 Hz</source>
        <translation>Fc %1 Hz 限定为 %2 Hz</translation>
    </message>
    <message>
        <source>Fc snapped from %1 Hz</source>
        <translation>Fc 由 %1 Hz 对齐到档位</translation>
    </message>
    <message>
        <source>Q %1 held to %2</source>
        <translation>Q %1 限定为 %2</translation>
    </message>
    <message>
        <source>Q snapped from %1</source>
        <translation>Q 由 %1 对齐到档位</translation>
    </message>
    <message>
        <source>as given</source>
        <translation>与文件相同</translation>
    </message>
    <message>
        <source>differs by at most %1 dB</source>
        <translation>最多相差 %1 dB</translation>
    </message>
    <message>
        <source>Preamp %1 dB: not applied (no box setting takes it)</source>
        <translation>前级增益 %1 dB：未采用（设备没有对应的设置）</translation>
    </message>
    <message>
        <source>Bands %1..%2: flat (Bell, 0 dB)</source>
        <translation>第 %1..%2 段：平直（峰值，0 dB）</translation>
    </message>
    <message>
        <source>Band %1: flat (Bell, 0 dB)</source>
        <translation>第 %1 段：平直（峰值，0 dB）</translation>
    </message>
    <message>
        <source>Largest difference from the file&apos;s response, 20 Hz - 20 kHz: %1 dB (the channel&apos;s EQ is switched off)</source>
        <translation>与文件响应的最大差值（20 Hz - 20 kHz）：%1 dB（该通道的均衡已关闭）</translation>
    </message>
    <message>
        <source>Largest difference from the file&apos;s response, 20 Hz - 20 kHz: %1 dB</source>
        <translation>与文件响应的最大差值（20 Hz - 20 kHz）：%1 dB</translation>
    </message>
    <message>
        <source>a number is missing after &quot;%1&quot;</source>
        <translation>&quot;%1&quot; 后缺少数值</translation>
    </message>
    <message>
        <source>no centre frequency (Fc)</source>
        <translation>没有中心频率（Fc）</translation>
    </message>
    <message>
        <source>no gain</source>
        <translation>没有增益</translation>
    </message>
    <message>
        <source>no Q or bandwidth</source>
        <translation>没有 Q 或带宽</translation>
    </message>
    <message>
        <source>a Q, bandwidth, slope or time that is not above 0</source>
        <translation>Q、带宽、斜率或时间不大于 0</translation>
    </message>
    <message>
        <source>neither ON nor OFF</source>
        <translation>既不是 ON 也不是 OFF</translation>
    </message>
    <message>
        <source>unknown filter type &quot;%1&quot;</source>
        <translation>未知的滤波器类型 &quot;%1&quot;</translation>
    </message>
    <message>
        <source>no filter type</source>
        <translation>没有滤波器类型</translation>
    </message>
    <message>
        <source>The file holds no filter line that can be used.</source>
        <translation>文件中没有可用的滤波器行。</translation>
    </message>
    <message>
        <source>Cannot open %1: it is a directory.</source>
        <translation>无法打开 %1：这是一个文件夹。</translation>
    </message>
    <message>
        <source>Cannot open %1: it is not a regular file.</source>
        <translation>无法打开 %1：这不是普通文件。</translation>
    </message>
    <message>
        <source>Cannot open %1.</source>
        <translation>无法打开 %1。</translation>
    </message>
    <message>
        <source>Cannot read %1.</source>
        <translation>无法读取 %1。</translation>
    </message>
    <message>
        <source>%1 is too large for a filter file.</source>
        <translation>%1 太大，不是滤波器文件。</translation>
    </message>
    <message>
        <source>%1 is too large for a measurement.</source>
        <translation>%1 太大，不是测量文件。</translation>
    </message>
    <message>
        <source>%1 is too large for a calibration file.</source>
        <translation>%1 太大，不是校准文件。</translation>
    </message>
    <message>
        <source>Line %1: a frequency and a level are needed.</source>
        <translation>第 %1 行：需要频率和电平。</translation>
    </message>
    <message>
        <source>Line %1: the frequency %2 Hz is not above 0.</source>
        <translation>第 %1 行：频率 %2 Hz 不大于 0。</translation>
    </message>
    <message>
        <source>Line %1: the frequency %2 Hz does not rise above %3 Hz.</source>
        <translation>第 %1 行：频率 %2 Hz 没有高于 %3 Hz。</translation>
    </message>
    <message>
        <source>The file holds no frequency response (at least two lines of frequency and level).</source>
        <translation>文件中没有频率响应（至少需要两行频率和电平）。</translation>
    </message>
    <message>
        <source>the measurement needs at least two points</source>
        <translation>测量至少需要两个点</translation>
    </message>
    <message>
        <source>the measurement&apos;s frequencies must rise and every value be a number</source>
        <translation>测量的频率必须递增，且每个值都必须是数字</translation>
    </message>
    <message>
        <source>the range must run from a lower to a higher frequency</source>
        <translation>范围必须从较低频率到较高频率</translation>
    </message>
    <message>
        <source>the largest boost must be 0 to 12 dB</source>
        <translation>最大提升必须在 0 到 12 dB 之间</translation>
    </message>
    <message>
        <source>the largest cut must be -24 to 0 dB</source>
        <translation>最大衰减必须在 -24 到 0 dB 之间</translation>
    </message>
    <message>
        <source>the largest boost and cut leave no gain to fit with</source>
        <translation>最大提升和衰减没有留下可拟合的增益</translation>
    </message>
    <message>
        <source>the largest Q must be at least 0.4</source>
        <translation>最大 Q 至少为 0.4</translation>
    </message>
    <message>
        <source>the most the fit may lower the level must be 0 dB or more</source>
        <translation>拟合最多可降低的电平必须为 0 dB 或以上</translation>
    </message>
    <message>
        <source>the target curve needs at least two points with rising frequencies</source>
        <translation>目标曲线至少需要两个频率递增的点</translation>
    </message>
    <message>
        <source>the tilt must be a number</source>
        <translation>倾斜必须是数字</translation>
    </message>
    <message>
        <source>the measurement covers less than an octave of the range</source>
        <translation>测量覆盖的范围不足一个倍频程</translation>
    </message>
    <message>
        <source>no band to fit: every band is bypassed or left out</source>
        <translation>没有可拟合的频段：每段都已旁通或未选用</translation>
    </message>
    <message>
        <source>no centre-frequency step lies in the range</source>
        <translation>范围内没有中心频率档位</translation>
    </message>
    <message>
        <source>%1 Line %2: %3.</source>
        <translation>%1 第 %2 行：%3。</translation>
    </message>
    <message>
        <source>The recording clipped (the input reached full scale): turn the output level or the microphone gain down and measure again.</source>
        <translation>录音削波（输入达到满幅）：请调低输出电平或话筒增益后重新测量。</translation>
    </message>
    <message>
        <source>The recording is too quiet (its peak is silence): check that the microphone is connected and the right input chosen, then turn the output level or the microphone gain up.</source>
        <translation>录音太弱（没有声音）：请检查话筒已连接并选对输入，然后调高输出电平或话筒增益。</translation>
    </message>
    <message>
        <source>The recording is too quiet (its peak is %1 dBFS): check that the microphone is connected and the right input chosen, then turn the output level or the microphone gain up.</source>
        <translation>录音太弱（峰值 %1 dBFS）：请检查话筒已连接并选对输入，然后调高输出电平或话筒增益。</translation>
    </message>
    <message>
        <source>The sample rate must be between 8000 and 384000 Hz.</source>
        <translation>采样率必须在 8000 到 384000 Hz 之间。</translation>
    </message>
    <message>
        <source>The sweep length must be between 1 and 10 s.</source>
        <translation>扫频长度必须在 1 到 10 秒之间。</translation>
    </message>
    <message>
        <source>The range must rise by at least an octave and stay below half the sample rate.</source>
        <translation>频率范围必须至少跨一个倍频程，且低于采样率的一半。</translation>
    </message>
    <message>
        <source>The level must be between -60 and 0 dBFS.</source>
        <translation>电平必须在 -60 到 0 dBFS 之间。</translation>
    </message>
    <message>
        <source>The number of positions to average must be between 1 and 64.</source>
        <translation>平均的测量位置数必须在 1 到 64 之间。</translation>
    </message>
    <message>
        <source>Cancelled.</source>
        <translation>已取消。</translation>
    </message>
    <message>
        <source>There is no measurement to average.</source>
        <translation>没有可平均的测量。</translation>
    </message>
    <message>
        <source>The measurements to average do not share their frequencies.</source>
        <translation>要平均的测量频率点不一致。</translation>
    </message>
    <message>
        <source>Line %1 of the calibration file has a frequency but no dB value.</source>
        <translation>校准文件第 %1 行有频率但没有 dB 值。</translation>
    </message>
    <message>
        <source>Line %1 of the calibration file: frequencies must be positive and rise from line to line.</source>
        <translation>校准文件第 %1 行：频率必须为正且逐行递增。</translation>
    </message>
    <message>
        <source>The calibration file holds no frequency and dB lines.</source>
        <translation>校准文件中没有频率和 dB 数据行。</translation>
    </message>
    <message>
        <source>Cannot open the calibration file %1: it is a directory.</source>
        <translation>无法打开校准文件 %1：这是一个文件夹。</translation>
    </message>
    <message>
        <source>Cannot open the calibration file %1: it is not a regular file.</source>
        <translation>无法打开校准文件 %1：这不是普通文件。</translation>
    </message>
    <message>
        <source>Cannot open the calibration file %1.</source>
        <translation>无法打开校准文件 %1。</translation>
    </message>
    <message>
        <source>There is no default audio input; choose one.</source>
        <translation>没有默认音频输入，请选择一个。</translation>
    </message>
    <message>
        <source>There is no default audio output; choose one.</source>
        <translation>没有默认音频输出，请选择一个。</translation>
    </message>
    <message>
        <source>More than one audio input is called &apos;%1&apos;; give more of the name.</source>
        <translation>有多个音频输入名为“%1”，请给出更完整的名称。</translation>
    </message>
    <message>
        <source>More than one audio output is called &apos;%1&apos;; give more of the name.</source>
        <translation>有多个音频输出名为“%1”，请给出更完整的名称。</translation>
    </message>
    <message>
        <source>There is no audio input called &apos;%1&apos;.</source>
        <translation>没有名为“%1”的音频输入。</translation>
    </message>
    <message>
        <source>There is no audio output called &apos;%1&apos;.</source>
        <translation>没有名为“%1”的音频输出。</translation>
    </message>
    <message>
        <source>The audio input stopped delivering sound; check the input device.</source>
        <translation>音频输入停止送出声音，请检查输入设备。</translation>
    </message>
    <message>
        <source>The sound system could not start: %1</source>
        <translation>声音系统无法启动：%1</translation>
    </message>
    <message>
        <source>The audio devices could not be opened at %1 Hz: %2</source>
        <translation>无法以 %1 Hz 打开音频设备：%2</translation>
    </message>
    <message>
        <source>The audio devices could not be opened: %1</source>
        <translation>无法打开音频设备：%1</translation>
    </message>
    <message>
        <source>The number of takes must be between 1 and 10.</source>
        <translation>测量次数必须在 1 到 10 之间。</translation>
    </message>
    <message>
        <source>No clean take in %1 tries: Dropout at %2 s (%3). The sound card dropped sound: close programs that keep the computer busy and measure again.</source>
        <translation>%1 次测量都不完整：在 %2 秒处断音（%3）。声卡丢失了声音：请关闭占用电脑的程序后重新测量。</translation>
    </message>
    <message>
        <source>No clean take in %1 try: Dropout at %2 s (%3). The sound card dropped sound: close programs that keep the computer busy and measure again.</source>
        <translation>%1 次测量不完整：在 %2 秒处断音（%3）。声卡丢失了声音：请关闭占用电脑的程序后重新测量。</translation>
    </message>
    <message>
        <source>Dropout at %1 s (%2), measuring again (take %3 of %4).</source>
        <translation>在 %1 秒处断音（%2），重新测量（第 %3 次，共 %4 次）。</translation>
    </message>
    <message>
        <source>Dropout at %1 s (%2).</source>
        <translation>在 %1 秒处断音（%2）。</translation>
    </message>
    <message>
        <source>the input overflowed</source>
        <translation>输入溢出</translation>
    </message>
    <message>
        <source>the input ran dry</source>
        <translation>输入中断</translation>
    </message>
    <message>
        <source>the output ran dry</source>
        <translation>输出中断</translation>
    </message>
    <message>
        <source>the output overflowed</source>
        <translation>输出溢出</translation>
    </message>
    <message>
        <source>the recording stopped short</source>
        <translation>录音提前结束</translation>
    </message>
    <message>
        <source>the output fell behind the input</source>
        <translation>输出落后于输入</translation>
    </message>
    <message>
        <source>the recording ends before the sweep does</source>
        <translation>录音在扫频结束前就结束了</translation>
    </message>
    <message>
        <source>the recording went silent</source>
        <translation>录音出现静音</translation>
    </message>
    <message>
        <source>the recording does not follow the sweep</source>
        <translation>录音与扫频不符</translation>
    </message>
    <message>
        <source>the recording started after the sweep</source>
        <translation>录音在扫频开始后才开始</translation>
    </message>
    <message>
        <source>The audio input delivers no sound; check the input device.</source>
        <translation>音频输入没有声音；请检查输入设备。</translation>
    </message>
</context>
<context>
    <name>ktv::ResponseChart</name>
    <message>
        <source>Gain/db</source>
        <translation>增益/dB</translation>
    </message>
    <message>
        <source>Frequency Response</source>
        <translation>频率响应</translation>
    </message>
    <message>
        <source>Frequency/Hz</source>
        <translation>频率/Hz</translation>
    </message>
    <message>
        <source>EQ Bypass</source>
        <translation>均衡旁通</translation>
    </message>
    <message>
        <source>Measurement</source>
        <translation>测量</translation>
    </message>
    <message>
        <source>Prediction</source>
        <translation>预测</translation>
    </message>
    <message>
        <source>Frequency Response: %1</source>
        <translation>频率响应：%1</translation>
    </message>
    <message>
        <source>Live analyser</source>
        <translation>实时分析仪</translation>
    </message>
</context>
<context>
    <name>ktv::SettingsPages</name>
    <message>
        <source>OFF</source>
        <translation>关</translation>
    </message>
    <message>
        <source>Attackx%1</source>
        <translation>启动时间x%1</translation>
    </message>
    <message>
        <source>MIC</source>
        <translation>MIC</translation>
    </message>
    <message>
        <source>MUSIC</source>
        <translation>MUSIC</translation>
    </message>
    <message>
        <source>EFFECT</source>
        <translation>EFFECT</translation>
    </message>
    <message>
        <source>OUT</source>
        <translation>输出</translation>
    </message>
    <message>
        <source>Threshold</source>
        <translation>阈值</translation>
    </message>
    <message>
        <source>Attack</source>
        <translation>启动时间</translation>
    </message>
    <message>
        <source>Release</source>
        <translation>释放时间</translation>
    </message>
    <message>
        <source>Ratio</source>
        <translation>压缩比</translation>
    </message>
    <message>
        <source>FBX</source>
        <translation>反馈抑制</translation>
    </message>
    <message>
        <source>NoiseGate</source>
        <translation>噪声门</translation>
    </message>
    <message>
        <source>PITCH</source>
        <translation>变调</translation>
    </message>
    <message>
        <source>INPUT</source>
        <translation>输入</translation>
    </message>
    <message>
        <source>Echo</source>
        <translation>回声</translation>
    </message>
    <message>
        <source>Reverb</source>
        <translation>混响</translation>
    </message>
    <message>
        <source>PreDelay:</source>
        <translation>预延时:</translation>
    </message>
    <message>
        <source>Delay:</source>
        <translation>延时:</translation>
    </message>
    <message>
        <source>Repeat:</source>
        <translation>重复:</translation>
    </message>
    <message>
        <source>Damp:</source>
        <translation>阻尼:</translation>
    </message>
    <message>
        <source>Early:Late</source>
        <translation>早期:后期</translation>
    </message>
    <message>
        <source>Time:</source>
        <translation>时间:</translation>
    </message>
    <message>
        <source>MicVol:</source>
        <translation>话筒音量:</translation>
    </message>
    <message>
        <source>MusicVol:</source>
        <translation>音乐音量:</translation>
    </message>
    <message>
        <source>EchoVol:</source>
        <translation>回声音量:</translation>
    </message>
    <message>
        <source>ReverbVol:</source>
        <translation>混响音量:</translation>
    </message>
    <message>
        <source>Click to invert the sign</source>
        <translation>单击反相</translation>
    </message>
    <message>
        <source>Delay L:</source>
        <translation>左延时:</translation>
    </message>
    <message>
        <source>Mute</source>
        <translation>静音</translation>
    </message>
    <message>
        <source>Delay R:</source>
        <translation>右延时:</translation>
    </message>
</context>
<context>
    <name>ktv::SweepDialog</name>
    <message>
        <source> dBFS</source>
        <translation> dBFS</translation>
    </message>
    <message>
        <source> Hz</source>
        <translation> Hz</translation>
    </message>
    <message>
        <source> ms</source>
        <translation> 毫秒</translation>
    </message>
    <message>
        <source> s</source>
        <translation> 秒</translation>
    </message>
    <message>
        <source>%v dBFS</source>
        <translation>%v dBFS</translation>
    </message>
    <message>
        <source>Browse…</source>
        <translation>浏览…</translation>
    </message>
    <message>
        <source>Calibration file</source>
        <translation>校准文件</translation>
    </message>
    <message>
        <source>Cannot write %1.</source>
        <translation>无法写入 %1。</translation>
    </message>
    <message>
        <source>Gate</source>
        <translation>时间窗</translation>
    </message>
    <message>
        <source>Input</source>
        <translation>输入</translation>
    </message>
    <message>
        <source>Input level</source>
        <translation>输入电平</translation>
    </message>
    <message>
        <source>Length</source>
        <translation>时长</translation>
    </message>
    <message>
        <source>Level</source>
        <translation>电平</translation>
    </message>
    <message>
        <source>Measure</source>
        <translation>测量</translation>
    </message>
    <message>
        <source>Measured: %1 points from %2 to %3 Hz.</source>
        <translation>已测量：%1 个点，%2 至 %3 Hz。</translation>
    </message>
    <message>
        <source>Measuring…</source>
        <translation>正在测量…</translation>
    </message>
    <message>
        <source>Microphone calibration file</source>
        <translation>话筒校准文件</translation>
    </message>
    <message>
        <source>Output</source>
        <translation>输出</translation>
    </message>
    <message>
        <source>Positions to average</source>
        <translation>平均的位置数</translation>
    </message>
    <message>
        <source>REW text (*.txt)</source>
        <translation>REW 文本 (*.txt)</translation>
    </message>
    <message>
        <source>Range</source>
        <translation>范围</translation>
    </message>
    <message>
        <source>Save measurement</source>
        <translation>保存测量</translation>
    </message>
    <message>
        <source>Save…</source>
        <translation>保存…</translation>
    </message>
    <message>
        <source>Sweep measurement</source>
        <translation>扫频测量</translation>
    </message>
    <message>
        <source>System default</source>
        <translation>系统默认</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>进度</translation>
    </message>
    <message>
        <source>Position %1 of %2, take %3 of %4: %5 s left</source>
        <translation>位置 %1/%2，第 %3 次（共 %4 次）：剩余 %5 秒</translation>
    </message>
    <message>
        <source>Take %1 of %2: %3 s left</source>
        <translation>第 %1 次（共 %2 次）：剩余 %3 秒</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Sweep measurement: %1</source>
        <translation>扫频测量：%1</translation>
    </message>
</context>
<context>
    <name>ktv::TAboutBox</name>
    <message>
        <source>About</source>
        <translation>关于</translation>
    </message>
    <message>
        <source>Version %1</source>
        <translation>版本 %1</translation>
    </message>
    <message>
        <source>Licence: GPL-3.0-or-later</source>
        <translation>许可证：GPL-3.0-or-later</translation>
    </message>
</context>
<context>
    <name>ktv::TFitPanel</name>
    <message>
        <source>Fit to measurement</source>
        <translation>按测量拟合</translation>
    </message>
    <message>
        <source>Choose file…</source>
        <translation>选择文件…</translation>
    </message>
    <message>
        <source>Flat</source>
        <translation>平直</translation>
    </message>
    <message>
        <source>Tilt</source>
        <translation>倾斜</translation>
    </message>
    <message>
        <source>Target curve</source>
        <translation>目标曲线</translation>
    </message>
    <message>
        <source> dB/octave</source>
        <translation> dB/倍频程</translation>
    </message>
    <message>
        <source> Hz</source>
        <translation> Hz</translation>
    </message>
    <message>
        <source>to</source>
        <translation>至</translation>
    </message>
    <message>
        <source> dB</source>
        <translation> dB</translation>
    </message>
    <message>
        <source>Measurement:</source>
        <translation>测量:</translation>
    </message>
    <message>
        <source>Target:</source>
        <translation>目标:</translation>
    </message>
    <message>
        <source>Range:</source>
        <translation>范围:</translation>
    </message>
    <message>
        <source>Largest boost:</source>
        <translation>最大提升:</translation>
    </message>
    <message>
        <source>Largest cut:</source>
        <translation>最大衰减:</translation>
    </message>
    <message>
        <source>Largest level drop:</source>
        <translation>最大电平降低:</translation>
    </message>
    <message>
        <source>Unlimited</source>
        <translation>不限</translation>
    </message>
    <message>
        <source>Bands to use:</source>
        <translation>使用的频段:</translation>
    </message>
    <message>
        <source>Fit</source>
        <translation>拟合</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>应用</translation>
    </message>
    <message>
        <source>Type</source>
        <translation>类型</translation>
    </message>
    <message>
        <source>Fc (Hz)</source>
        <translation>频率 (Hz)</translation>
    </message>
    <message>
        <source>Q</source>
        <translation>Q</translation>
    </message>
    <message>
        <source>Gain (dB)</source>
        <translation>增益 (dB)</translation>
    </message>
    <message>
        <source>Hz</source>
        <translation>Hz</translation>
    </message>
    <message>
        <source>dB</source>
        <translation>dB</translation>
    </message>
    <message>
        <source>Measured</source>
        <translation>测量值</translation>
    </message>
    <message>
        <source>Predicted</source>
        <translation>预测值</translation>
    </message>
    <message>
        <source>Target</source>
        <translation>目标</translation>
    </message>
    <message>
        <source>Load a measurement of the channel first.</source>
        <translation>请先载入该通道的测量。</translation>
    </message>
    <message>
        <source>Bypassed: left alone</source>
        <translation>已旁通：保持不变</translation>
    </message>
    <message>
        <source>the chart&apos;s measurement</source>
        <translation>图表中的测量</translation>
    </message>
    <message>
        <source>Measurements (%1);;All files (*)</source>
        <translation>测量文件 (%1);;所有文件 (*)</translation>
    </message>
    <message>
        <source>%1 cannot be used: %2</source>
        <translation>%1 无法使用：%2</translation>
    </message>
    <message>
        <source>Measurement</source>
        <translation>测量</translation>
    </message>
    <message>
        <source>Choose a target curve file first.</source>
        <translation>请先选择目标曲线文件。</translation>
    </message>
    <message>
        <source>Cannot fit: %1</source>
        <translation>无法拟合：%1</translation>
    </message>
    <message>
        <source>Error over %1 to %2 Hz: before RMS %3 dB, largest %4 dB; after RMS %5 dB, largest %6 dB</source>
        <translation>%1 至 %2 Hz 的误差：拟合前 RMS %3 dB，最大 %4 dB；拟合后 RMS %5 dB，最大 %6 dB</translation>
    </message>
    <message>
        <source>The fit lowers the level by %1 dB.</source>
        <translation>拟合使电平降低 %1 dB。</translation>
    </message>
    <message>
        <source>The fit raises the level by %1 dB.</source>
        <translation>拟合使电平提高 %1 dB。</translation>
    </message>
    <message>
        <source>%1 (left alone)</source>
        <translation>%1（保持不变）</translation>
    </message>
    <message>
        <source>The channel&apos;s bands changed since the fit: fit again.</source>
        <translation>拟合后该通道的频段已改变：请重新拟合。</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Fit to measurement: %1</source>
        <translation>按测量拟合：%1</translation>
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
        <source>MIC</source>
        <translation>MIC</translation>
    </message>
    <message>
        <source>MUSIC</source>
        <translation>MUSIC</translation>
    </message>
    <message>
        <source>EFECT</source>
        <translation>EFECT</translation>
    </message>
    <message>
        <source>MAIN</source>
        <translation>MAIN</translation>
    </message>
    <message>
        <source>CENTER</source>
        <translation>CENTER</translation>
    </message>
    <message>
        <source>SUB</source>
        <translation>SUB</translation>
    </message>
    <message>
        <source>SRS</source>
        <translation>SRS</translation>
    </message>
    <message>
        <source>SYSTEM</source>
        <translation>系统</translation>
    </message>
    <message>
        <source>DAP files (*.dap)</source>
        <translation>DAP 预设文件 (*.dap)</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>打开</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>保存</translation>
    </message>
    <message>
        <source>Mic:%1</source>
        <translation>话筒:%1</translation>
    </message>
    <message>
        <source>Music:%1</source>
        <translation>音乐:%1</translation>
    </message>
    <message>
        <source>Effect:%1</source>
        <translation>效果:%1</translation>
    </message>
    <message>
        <source>AUTO</source>
        <translation>自动读取</translation>
    </message>
    <message>
        <source>Read from dsp</source>
        <translation>从设备读取</translation>
    </message>
    <message>
        <source>File</source>
        <translation>文件</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>退出</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>帮助</translation>
    </message>
    <message>
        <source>About</source>
        <translation>关于</translation>
    </message>
    <message>
        <source>No Connect!</source>
        <translation>未连接!</translation>
    </message>
    <message>
        <source>Commution State:</source>
        <translation>通讯状态:</translation>
    </message>
    <message>
        <source>Device ID:1</source>
        <translation>设备号:1</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is not a valid integer value</source>
        <translation>“%1”不是有效的整数</translation>
    </message>
    <message>
        <source>Preset not loaded: %1: %2.</source>
        <translation>预设未载入：%1：%2。</translation>
    </message>
    <message>
        <source>A</source>
        <translation>A</translation>
    </message>
    <message>
        <source>B</source>
        <translation>B</translation>
    </message>
    <message>
        <source>Compare: switch the window and the box to setting %1</source>
        <translation>对比：将窗口和设备切换到设置 %1</translation>
    </message>
    <message>
        <source>Compare with preset...</source>
        <translation>与预设对比...</translation>
    </message>
    <message>
        <source>Compare with box</source>
        <translation>与设备对比</translation>
    </message>
    <message>
        <source>Recall slot %1</source>
        <translation>调用预设 %1</translation>
    </message>
    <message>
        <source>Open %1</source>
        <translation>打开 %1</translation>
    </message>
    <message>
        <source>Undo %1</source>
        <translation>撤销 %1</translation>
    </message>
    <message>
        <source>Undo</source>
        <translation>撤销</translation>
    </message>
    <message>
        <source>Redo %1</source>
        <translation>重做 %1</translation>
    </message>
    <message>
        <source>Redo</source>
        <translation>重做</translation>
    </message>
    <message>
        <source>Edit</source>
        <translation>编辑</translation>
    </message>
    <message>
        <source>Copy EQ to</source>
        <translation>复制均衡到</translation>
    </message>
    <message>
        <source>Copy %1 EQ to %2</source>
        <translation>复制 %1 均衡到 %2</translation>
    </message>
    <message>
        <source>View</source>
        <translation>视图</translation>
    </message>
    <message>
        <source>Compare</source>
        <translation>对比</translation>
    </message>
    <message>
        <source>Compare: A</source>
        <translation>对比: A</translation>
    </message>
    <message>
        <source>Compare: B</source>
        <translation>对比: B</translation>
    </message>
    <message>
        <source>Compare with preset</source>
        <translation>与预设对比</translation>
    </message>
    <message>
        <source>Cannot compare with %1: %2.</source>
        <translation>无法与 %1 对比：%2。</translation>
    </message>
    <message>
        <source>Compare with %1</source>
        <translation>与 %1 对比</translation>
    </message>
    <message>
        <source>Connect to a box first.</source>
        <translation>请先连接设备。</translation>
    </message>
    <message>
        <source>Box</source>
        <translation>设备</translation>
    </message>
    <message>
        <source>No differences.</source>
        <translation>没有差异。</translation>
    </message>
    <message numerus="yes">
        <source>%n field(s) differ.</source>
        <translation>
            <numerusform>%n 个参数不同。</numerusform>
        </translation>
    </message>
    <message>
        <source>Field</source>
        <translation>参数</translation>
    </message>
    <message>
        <source>Window</source>
        <translation>窗口</translation>
    </message>
    <message>
        <source>Preset not saved: %1: %2.</source>
        <translation>预设未保存：%1：%2。</translation>
    </message>
    <message>
        <source>KTV Tune has not read this box&apos;s settings yet. Read them first?</source>
        <translation>KTV Tune 尚未读取这台设备的设置。先读取吗？</translation>
    </message>
    <message>
        <source>Read from box</source>
        <translation>从设备读取</translation>
    </message>
    <message>
        <source>Send my change</source>
        <translation>发送我的修改</translation>
    </message>
    <message>
        <source>Replace %1 with the window&apos;s settings?</source>
        <translation>用窗口中的设置替换 %1 吗？</translation>
    </message>
    <message>
        <source>Replace the box&apos;s settings with slot %1?</source>
        <translation>用槽位 %1 替换设备的设置吗？</translation>
    </message>
    <message>
        <source>Restore box state…</source>
        <translation>恢复设备状态…</translation>
    </message>
    <message>
        <source>Restore box state</source>
        <translation>恢复设备状态</translation>
    </message>
    <message>
        <source>Restore box state of %1</source>
        <translation>恢复 %1 的设备状态</translation>
    </message>
    <message>
        <source>The box&apos;s state was not saved: %1</source>
        <translation>设备状态未保存：%1</translation>
    </message>
    <message>
        <source>the box could not be read</source>
        <translation>无法读取设备</translation>
    </message>
    <message>
        <source>No saved state of this box yet.</source>
        <translation>此设备尚无保存的状态。</translation>
    </message>
    <message>
        <source>Cannot restore %1: %2.</source>
        <translation>无法恢复 %1：%2。</translation>
    </message>
    <message>
        <source>Saved</source>
        <translation>保存时间</translation>
    </message>
    <message>
        <source>What came after</source>
        <translation>之后的操作</translation>
    </message>
    <message>
        <source>Write to box</source>
        <translation>写入设备</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>是</translation>
    </message>
    <message>
        <source>No</source>
        <translation>否</translation>
    </message>
    <message>
        <source>Preset saved</source>
        <translation>预设已保存</translation>
    </message>
    <message>
        <source>An edit did not reach the box: the box may not hold what the window shows. &quot;Write to dsp&quot; sends everything.</source>
        <translation>有修改未送达设备：设备中的设置可能与窗口显示的不同。“写入设备”会发送全部设置。</translation>
    </message>
    <message>
        <source>Import filters…</source>
        <translation>导入滤波器…</translation>
    </message>
    <message>
        <source>Export filters…</source>
        <translation>导出滤波器…</translation>
    </message>
    <message>
        <source>Load measurement…</source>
        <translation>载入测量…</translation>
    </message>
    <message>
        <source>Export chart…</source>
        <translation>导出图表…</translation>
    </message>
    <message>
        <source>Import report</source>
        <translation>导入报告</translation>
    </message>
    <message>
        <source>Clear measurement</source>
        <translation>清除测量</translation>
    </message>
    <message>
        <source>Import filters</source>
        <translation>导入滤波器</translation>
    </message>
    <message>
        <source>Filter files (%1);;All files (*)</source>
        <translation>滤波器文件 (%1);;所有文件 (*)</translation>
    </message>
    <message>
        <source>Import refused: %1</source>
        <translation>拒绝导入：%1</translation>
    </message>
    <message>
        <source>Import %1</source>
        <translation>导入 %1</translation>
    </message>
    <message>
        <source>%1 into %2:</source>
        <translation>%1 导入到 %2：</translation>
    </message>
    <message>
        <source>Export filters</source>
        <translation>导出滤波器</translation>
    </message>
    <message>
        <source>Cannot write %1.</source>
        <translation>无法写入 %1。</translation>
    </message>
    <message>
        <source>Load measurement</source>
        <translation>载入测量</translation>
    </message>
    <message>
        <source>Measurements (%1);;All files (*)</source>
        <translation>测量文件 (%1);;所有文件 (*)</translation>
    </message>
    <message>
        <source>Cannot load the measurement: %1</source>
        <translation>无法载入测量：%1</translation>
    </message>
    <message>
        <source>PNG image (*.png)</source>
        <translation>PNG 图像 (*.png)</translation>
    </message>
    <message>
        <source>PNG image, double size (*.png)</source>
        <translation>PNG 图像，双倍尺寸 (*.png)</translation>
    </message>
    <message>
        <source>PDF document (*.pdf)</source>
        <translation>PDF 文档 (*.pdf)</translation>
    </message>
    <message>
        <source>CSV table (*.csv)</source>
        <translation>CSV 表格 (*.csv)</translation>
    </message>
    <message>
        <source>Export chart</source>
        <translation>导出图表</translation>
    </message>
    <message>
        <source>EQ</source>
        <translation>均衡</translation>
    </message>
    <message>
        <source>Fit to measurement…</source>
        <translation>按测量拟合…</translation>
    </message>
    <message>
        <source>Measure</source>
        <translation>测量</translation>
    </message>
    <message>
        <source>Sweep…</source>
        <translation>扫频…</translation>
    </message>
    <message>
        <source>Live analyser</source>
        <translation>实时分析仪</translation>
    </message>
    <message>
        <source>%1 filters (%2)</source>
        <translation>%1 滤波器文件 (%2)</translation>
    </message>
    <message>
        <source>Not on the box: %1</source>
        <translation>设备中缺少：%1</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Replace slot %1 with the window&apos;s settings?</source>
        <translation>用窗口中的设置替换槽位 %1 吗？</translation>
    </message>
</context>
<context>
    <name>ktv::TFormPEQA</name>
    <message>
        <source>&apos;%1&apos; is not a valid number.</source>
        <translation>“%1”不是有效的数字。</translation>
    </message>
    <message>
        <source>Reset %1 EQ</source>
        <translation>复位 %1 均衡</translation>
    </message>
</context>
<context>
    <name>ktv::THelpBox</name>
    <message>
        <source>KTV Tune user guide</source>
        <translation>KTV Tune 使用指南</translation>
    </message>
    <message>
        <source>guide.html</source>
        <comment>file name of the user guide in this language</comment>
        <translation>guide_zh_CN.html</translation>
    </message>
</context>
<context>
    <name>ktv::TSystemPage</name>
    <message>
        <source>System</source>
        <translation>系统</translation>
    </message>
    <message>
        <source>Mic MAX Vol:</source>
        <translation>话筒最大音量:</translation>
    </message>
    <message>
        <source>Music MAX Vol:</source>
        <translation>音乐最大音量:</translation>
    </message>
    <message>
        <source>Mode</source>
        <translation>模式</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>刷新</translation>
    </message>
    <message>
        <source>Save to file</source>
        <translation>保存到文件</translation>
    </message>
    <message>
        <source>Recall from file</source>
        <translation>从文件调用</translation>
    </message>
    <message>
        <source>Preset folder...</source>
        <translation>预设文件夹...</translation>
    </message>
    <message>
        <source>Write to dsp</source>
        <translation>写入设备</translation>
    </message>
    <message>
        <source>Read from dsp</source>
        <translation>从设备读取</translation>
    </message>
    <message>
        <source>Set   factory   mode:</source>
        <translation>保存到预设:</translation>
    </message>
    <message>
        <source>Reset factory mode:</source>
        <translation>调用预设:</translation>
    </message>
</context>
</TS>
