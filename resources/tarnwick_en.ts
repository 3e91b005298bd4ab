<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>CAboutBox</name>
    <message>
        <source>Tarnwick版本信息</source>
        <translation>Tarnwick Version Information</translation>
    </message>
    <message>
        <source>Tarnwick 视频截图与图像增强工具</source>
        <translation>Tarnwick: still pictures from video, improved</translation>
    </message>
    <message>
        <source>作者：</source>
        <translation>Author:</translation>
    </message>
    <message>
        <source>Tarnwick 项目组</source>
        <translation>The Tarnwick project</translation>
    </message>
    <message>
        <source>电邮：</source>
        <translation>E-mail:</translation>
    </message>
    <message>
        <source>如果您希望了解本软件的最新信息，请访问作者的主页:</source>
        <translation>For the latest news about this program, visit its homepage:</translation>
    </message>
    <message>
        <source>2026年12月</source>
        <translation>December 2026</translation>
    </message>
    <message>
        <source>本软件是免费软件，欢迎使用和传播。</source>
        <translation>This program is free: use it and pass it on.</translation>
    </message>
</context>
<context>
    <name>CFontablePage</name>
    <message>
        <source>正在处理…，确定要停止并退出吗？</source>
        <translation>Work is in progress. Stop it and quit?</translation>
    </message>
</context>
<context>
    <name>CJobPageWidget</name>
    <message>
        <source>开始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>选择</source>
        <translation>Select</translation>
    </message>
    <message>
        <source>查看</source>
        <translation>View</translation>
    </message>
    <message>
        <source>结束后删除所有源文件</source>
        <translation>Move all source files to the trash when finished</translation>
    </message>
    <message>
        <source>JPEG压缩率:</source>
        <translation>JPEG quality:</translation>
    </message>
    <message>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>调入</source>
        <translation>Load</translation>
    </message>
    <message>
        <source>重置</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>源文件</source>
        <translation>Source files</translation>
    </message>
    <message>
        <source>源文件所在目录:</source>
        <translation>Source folder:</translation>
    </message>
    <message>
        <source>源文件:</source>
        <translation>Source files:</translation>
    </message>
    <message>
        <source>正在处理:</source>
        <translation>Processing:</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>抱歉，在指定的源目录下没有所需的文件。</source>
        <translation>Sorry, the chosen source folder holds none of the required files.</translation>
    </message>
    <message>
        <source>请先选择源目录。</source>
        <translation>Please choose the source folder first.</translation>
    </message>
    <message>
        <source>目标会覆盖源文件，原文件将无法找回，因此没有开始。
请选择另一个目标，或勾选“结束后删除所有源文件”（源文件会先移到回收站）。</source>
        <translation>The target would replace source files, and the originals could not be recovered, so the job did not start.
Choose another target, or check “delete all source files when finished” (the sources then go to the trash first).</translation>
    </message>
    <message>
        <source>另一个任务正在向目标目录写入文件，因此没有开始。
请等它结束后再开始。</source>
        <translation>Another job is writing into the target folder, so this one did not start.
Start it again once that job has ended.</translation>
    </message>
    <message>
        <source>已删除上次被中断的任务留下的临时文件：</source>
        <translation>Removed temporary files left behind by an earlier job that was interrupted:</translation>
    </message>
    <message>
        <source>以下文件处理失败：</source>
        <translation>These files failed:</translation>
    </message>
    <message>
        <source>……另有%1个错误。</source>
        <translation>... and %1 more errors.</translation>
    </message>
    <message>
        <source>无法保存设置：
%1</source>
        <translation>Could not save the settings:
%1</translation>
    </message>
    <message>
        <source>无法调入设置：
%1</source>
        <translation>Could not load the settings:
%1</translation>
    </message>
    <message>
        <source>正在处理，停止或处理完后才能更改</source>
        <translation>Processing: can be changed once stopped or finished</translation>
    </message>
    <message>
        <source>只有写出 JPEG 文件时才用到压缩率</source>
        <translation>The compression rate is used only when JPEG files are written</translation>
    </message>
    <message>
        <source>%1 个 %2</source>
        <translation>%1 %2</translation>
    </message>
    <message>
        <source>，</source>
        <translation>, </translation>
    </message>
    <message>
        <source>当前文件处理完后停止</source>
        <translation>Stops after the current file</translation>
    </message>
    <message>
        <source>请先选择源目录和%1</source>
        <translation>Please choose the source folder and the %1 first</translation>
    </message>
    <message>
        <source>请先选择源目录</source>
        <translation>Please choose the source folder first</translation>
    </message>
    <message>
        <source>请先选择%1</source>
        <translation>Please choose the %1 first</translation>
    </message>
    <message>
        <source>该目录中没有 %1 文件。</source>
        <translation>The folder holds no %1 files.</translation>
    </message>
    <message>
        <source>无法写入目标 %1，没有处理任何文件。
%2</source>
        <translation>Cannot write to the target %1; no file was processed.
%2</translation>
    </message>
    <message>
        <source>无法开始：%1</source>
        <translation>Cannot start: %1</translation>
    </message>
    <message>
        <source>没有选择源目录</source>
        <translation>no source folder</translation>
    </message>
    <message>
        <source>没有选择目标文件</source>
        <translation>no target file</translation>
    </message>
    <message>
        <source>没有选择源文件类型</source>
        <translation>no source file type chosen</translation>
    </message>
    <message>
        <source>没有选择目标目录</source>
        <translation>no target folder</translation>
    </message>
    <message>
        <source>没有选择放大尺寸</source>
        <translation>no size chosen</translation>
    </message>
    <message>
        <source>图像数量上限不能为负数</source>
        <translation>the limit of images cannot be negative</translation>
    </message>
    <message>
        <source>%1：报告会覆盖结果文件</source>
        <translation>%1: the report would replace the result</translation>
    </message>
    <message>
        <source>%1：报告会覆盖一个源图像</source>
        <translation>%1: the report would replace a source image</translation>
    </message>
    <message>
        <source>%1：报告会混在源图像中间，请写到别处</source>
        <translation>%1: the report would lie among the source images; write it elsewhere</translation>
    </message>
    <message>
        <source>κ 值必须大于 0，而不是 %1</source>
        <translation>kappa must be a number above 0, not %1</translation>
    </message>
    <message>
        <source>参考图像至少要从 1 张图像中选出，而不是 %1</source>
        <translation>the reference must be chosen among at least 1 picture, not %1</translation>
    </message>
    <message>
        <source>平均值的除数不能为负数</source>
        <translation>the divisor of the mean cannot be negative</translation>
    </message>
    <message>
        <source>最小重叠比例必须在 0 到 1 之间</source>
        <translation>the least overlap must lie between 0 and 1</translation>
    </message>
    <message>
        <source>处理因错误而中断。</source>
        <translation>Processing was broken off by an error.</translation>
    </message>
    <message>
        <source>，剩余约 %1</source>
        <translation>, about %1 left</translation>
    </message>
</context>
<context>
    <name>CLinkLabel</name>
    <message>
        <source>操作系统的内存
或资源不足。</source>
        <translation>The operating system is out
of memory or resources.</translation>
    </message>
    <message>
        <source>找不到指定的文件。</source>
        <translation>The specified file was not found.</translation>
    </message>
    <message>
        <source>找不到指定的路径。</source>
        <translation>The specified path was not found.</translation>
    </message>
    <message>
        <source>操作系统拒绝
访问指定的文件。</source>
        <translation>The operating system denied
access to the specified file.</translation>
    </message>
    <message>
        <source>内存不足，无法完成操作。</source>
        <translation>There was not enough memory to complete the operation.</translation>
    </message>
    <message>
        <source>该 .EXE 文件无效
（不是 Win32 .EXE，或 .EXE 映像有错）。</source>
        <translation>The .EXE file is invalid
(non-Win32 .EXE or error in .EXE image).</translation>
    </message>
    <message>
        <source>发生共享冲突。</source>
        <translation>A sharing violation occurred. </translation>
    </message>
    <message>
        <source>文件名关联
不完整或无效。</source>
        <translation>The filename association is
incomplete or invalid.</translation>
    </message>
    <message>
        <source>DDE 事务
因请求超时而无法完成。</source>
        <translation>The DDE transaction could not
be completed because the request timed out.</translation>
    </message>
    <message>
        <source>DDE 事务失败。</source>
        <translation>The DDE transaction failed.</translation>
    </message>
    <message>
        <source>DDE 事务
因其他 DDE 事务
正在处理而无法完成。</source>
        <translation>The DDE transaction could not
be completed because other DDE transactions
were being processed.</translation>
    </message>
    <message>
        <source>没有与该文件扩展名
关联的程序。</source>
        <translation>There is no application associated
with the given filename extension.</translation>
    </message>
    <message>
        <source>找不到指定的动态链接库。</source>
        <translation>The specified dynamic-link library was not found.</translation>
    </message>
    <message>
        <source>发生未知错误 (%1)。</source>
        <translation>Unknown Error (%1) occurred.</translation>
    </message>
    <message>
        <source>无法打开超链接：

%1</source>
        <translation>Unable to open hyperlink:

%1</translation>
    </message>
</context>
<context>
    <name>CMainSheet</name>
    <message>
        <source>批量放大</source>
        <translation>Batch Enlarge</translation>
    </message>
    <message>
        <source>图像平均</source>
        <translation>Image Averaging</translation>
    </message>
    <message>
        <source>抱歉，找不到帮助文件Tarnwick.htm。
请下载完整的ZIP文件。</source>
        <translation>Sorry, the help file Tarnwick.htm cannot be found.
Please download the complete ZIP file.</translation>
    </message>
    <message>
        <source>帮助</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>关于</source>
        <translation>About</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>最小化</source>
        <translation>Minimize</translation>
    </message>
    <message>
        <source>没有可以打开帮助文件的程序（例如网页浏览器）。
帮助文件在：
%1</source>
        <translation>No program (such as a web browser) could open the help file.
The help file is at:
%1</translation>
    </message>
</context>
<context>
    <name>CMergeImagePage</name>
    <message>
        <source>自动编号</source>
        <translation>Automatic numbering</translation>
    </message>
    <message>
        <source>目标文件</source>
        <translation>Target file</translation>
    </message>
    <message>
        <source>目标文件:</source>
        <translation>Target file:</translation>
    </message>
    <message>
        <source>请先选择目标文件。</source>
        <translation>Please choose the target file first.</translation>
    </message>
    <message>
        <source>图像平均完毕。</source>
        <translation>Image averaging finished.</translation>
    </message>
    <message>
        <source>图像融合失败。</source>
        <translation>Image merging failed.</translation>
    </message>
    <message>
        <source>另存为 800x600 / 1024x768 副本:</source>
        <translation>Also save 800x600 / 1024x768 copies:</translation>
    </message>
    <message>
        <source>另存一份填满并裁成 800x600 的副本（文件名加 _800x600）</source>
        <translation>Also saves a copy filled and cropped to 800x600 (the name ends in _800x600)</translation>
    </message>
    <message>
        <source>另存一份填满并裁成 1024x768 的副本（文件名加 _1024x768）</source>
        <translation>Also saves a copy filled and cropped to 1024x768 (the name ends in _1024x768)</translation>
    </message>
    <message>
        <source>目标文件</source>
        <comment>hint</comment>
        <translation>target file</translation>
    </message>
    <message>
        <source>对齐</source>
        <translation>Align</translation>
    </message>
    <message>
        <source>方法:</source>
        <translation>Method:</translation>
    </message>
    <message>
        <source>平均（默认）</source>
        <translation>Mean (default)</translation>
    </message>
    <message>
        <source>按覆盖张数平均</source>
        <translation>Mean of the covering images</translation>
    </message>
    <message>
        <source>中值</source>
        <translation>Median</translation>
    </message>
    <message>
        <source>σ 剪裁平均</source>
        <translation>Sigma-clipped mean</translation>
    </message>
    <message>
        <source>平均：全部图像相加，除以文件数（最多 255 张）。
按覆盖张数平均：每个像素只除以覆盖它的图像数，较小的图像不再使边缘变暗。
中值：逐像素取中间值，偶尔出现的字幕、遮挡不会留下痕迹。
σ 剪裁平均：先去掉偏离中值过远的值再平均，既降噪又去除遮挡。</source>
        <translation>Mean: all images added up and divided by the number of files (at most 255).
Mean of the covering images: each pixel divided only by the number of images that cover it, so smaller images no longer darken the edges.
Median: the middle value of each pixel; subtitles or objects that appear now and then leave no trace.
Sigma-clipped mean: values too far from the median are dropped before averaging, which lowers the noise and removes occluders.</translation>
    </message>
    <message>
        <source>合成前把每张图像按平移对齐到第一张（精确到亚像素）；无法对齐的图像不参与合成，并在结果中列出原因</source>
        <translation>Before combining, every image is shifted onto the first one (to a fraction of a pixel); an image that cannot be aligned is left out and listed in the summary with the reason</translation>
    </message>
    <message>
        <source>不是可合成的 24 位图像</source>
        <translation>Not a 24-bit image that can be combined</translation>
    </message>
    <message>
        <source>无法对齐：画面没有可供对齐的反差</source>
        <translation>Cannot align: the picture has no contrast to align on</translation>
    </message>
    <message>
        <source>无法对齐：与第一张同样大小的图像都没有可供对齐的反差</source>
        <translation>Cannot align: no picture of the first one&apos;s size has contrast to align on</translation>
    </message>
    <message>
        <source>无法对齐：与参考图像的相关性太弱（%1，至少需 %2）</source>
        <translation>Cannot align: too little correlation with the reference image (%1, needs at least %2)</translation>
    </message>
    <message>
        <source>对齐后只覆盖参考图像的 %1%</source>
        <translation>Once aligned, covers only %1% of the reference image</translation>
    </message>
</context>
<context>
    <name>CPlayerPage</name>
    <message>
        <source>源文件</source>
        <translation>Source File</translation>
    </message>
    <message>
        <source>开始录像</source>
        <translation>Record</translation>
    </message>
    <message>
        <source>存当前画面</source>
        <translation>Save Frame</translation>
    </message>
    <message>
        <source>选择</source>
        <translation>Choose</translation>
    </message>
    <message>
        <source>录像间隔：</source>
        <translation>Recording interval:</translation>
    </message>
    <message>
        <source>毫秒</source>
        <translation>ms</translation>
    </message>
    <message>
        <source>截下来的图像文件保存到:</source>
        <translation>Captured images are saved to:</translation>
    </message>
    <message>
        <source>停止录像</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>无法播放媒体文件 %1。
%2</source>
        <translation>Cannot play the media file %1.
%2</translation>
    </message>
    <message>
        <source>无法载入播放器程序库：%1</source>
        <translation>Cannot load the player library: %1</translation>
    </message>
    <message>
        <source>这个媒体文件只有声音，没有可录的图像。</source>
        <translation>This media file has sound only; there is no picture to record.</translation>
    </message>
    <message>
        <source>请先选择欲播放的媒体文件。</source>
        <translation>Please choose the media file to play first.</translation>
    </message>
    <message>
        <source>抱歉，指定的目标目录不存在且无法创建，请重新选择。</source>
        <translation>Sorry, the target folder does not exist and cannot be created. Please choose another.</translation>
    </message>
    <message>
        <source>无法保存文件 %1。
%2</source>
        <translation>Cannot save the file %1.
%2</translation>
    </message>
    <message>
        <source>位图文件 (*.bmp)</source>
        <translation>Bitmap Files (*.bmp)</translation>
    </message>
    <message>
        <source>正在录制…，确定要停止并退出吗？</source>
        <translation>A recording is running. Stop it and quit?</translation>
    </message>
    <message>
        <source>写入文件失败，录像已停止。
%1
已写入 %2 幅，%3 幅未能写入。</source>
        <translation>A frame could not be written; the recording was stopped.
%1
%2 frames written, %3 not written.</translation>
    </message>
    <message>
        <source>已读 %1 幅画面</source>
        <translation>%1 frames read</translation>
    </message>
    <message>
        <source>已对齐合并 %1 / %2 幅</source>
        <translation>%1 / %2 frames aligned and merged</translation>
    </message>
    <message>
        <source>正在锐化…</source>
        <translation>Sharpening…</translation>
    </message>
    <message>
        <source>已写入 %1 幅</source>
        <translation>%1 frames written</translation>
    </message>
    <message>
        <source>视频文件(*.mp4;*.mkv;*.webm;*.mov;*.m4v) (*.mp4 *.mkv *.webm *.mov *.m4v)</source>
        <translation>Video files (*.mp4;*.mkv;*.webm;*.mov;*.m4v) (*.mp4 *.mkv *.webm *.mov *.m4v)</translation>
    </message>
    <message>
        <source>设起点</source>
        <translation>Set Start</translation>
    </message>
    <message>
        <source>设终点</source>
        <translation>Set End</translation>
    </message>
    <message>
        <source>清除标记</source>
        <translation>Clear Marks</translation>
    </message>
    <message>
        <source>把当前位置设为片段的起点（I 键）</source>
        <translation>Mark the position as the start of the span (I)</translation>
    </message>
    <message>
        <source>把当前位置设为片段的终点（O 键）</source>
        <translation>Mark the position as the end of the span (O)</translation>
    </message>
    <message>
        <source>保存播放器显示的画面（S 键或 F12 键）</source>
        <translation>Save the picture the player shows (S or F12)</translation>
    </message>
    <message>
        <source>存原始帧</source>
        <translation>Save Full Frame</translation>
    </message>
    <message>
        <source>从文件中按原始大小取出当前位置的这一帧，存入目标目录</source>
        <translation>Take the frame at the position from the file at its own size into the target folder</translation>
    </message>
    <message>
        <source>导出片段帧</source>
        <translation>Export Span Frames</translation>
    </message>
    <message>
        <source>把起点到终点之间的每一帧按原始大小存入目标目录</source>
        <translation>Save every frame from the start to the end mark at its own size into the target folder</translation>
    </message>
    <message>
        <source>取最佳画面</source>
        <translation>Best Still</translation>
    </message>
    <message>
        <source>把片段中最清晰的各帧对齐合并成一幅放大的画面；没有标记时取当前位置前后各一秒</source>
        <translation>Align and merge the sharpest frames of the span into one enlarged picture; without marks, a second either side of the position</translation>
    </message>
    <message>
        <source>请先选择保存图像的目标目录。</source>
        <translation>Please choose the folder for the pictures first.</translation>
    </message>
    <message>
        <source>无法创建目录 %1。
%2</source>
        <translation>Cannot create the folder %1.
%2</translation>
    </message>
    <message>
        <source>已存为 %1</source>
        <translation>Saved as %1</translation>
    </message>
    <message>
        <source>正在导出片段帧…</source>
        <translation>Exporting the span's frames…</translation>
    </message>
    <message>
        <source>导出片段帧失败：%1
%2</source>
        <translation>Exporting the span's frames failed: %1
%2</translation>
    </message>
    <message>
        <source>已停止，已写入 %1 幅到 %2</source>
        <translation>Stopped; %1 frames written to %2</translation>
    </message>
    <message>
        <source>已写入 %1 幅到 %2</source>
        <translation>%1 frames written to %2</translation>
    </message>
    <message>
        <source>正在取最佳画面…</source>
        <translation>Making the best still…</translation>
    </message>
    <message>
        <source>已停止，未写入文件。</source>
        <translation>Stopped; no file written.</translation>
    </message>
    <message>
        <source>取最佳画面失败：%1
%2</source>
        <translation>The best still failed: %1
%2</translation>
    </message>
    <message>
        <source>已存为 %1（%2×%3，合并 %4 幅）</source>
        <translation>Saved as %1 (%2×%3, %4 frames merged)</translation>
    </message>
    <message>
        <source>原帧 ×%1（三次插值）</source>
        <translation>Frame ×%1 (cubic)</translation>
    </message>
    <message>
        <source>无法启动后台任务。</source>
        <translation>Cannot start the background job.</translation>
    </message>
    <message>
        <source>%1，剩余 %2</source>
        <translation>%1, %2 left</translation>
    </message>
    <message>
        <source>录制仍存 350×240 的画面</source>
        <translation>Recording still saves 350×240 frames of the view</translation>
    </message>
    <message>
        <source>双击或按 F11 全屏，Esc 退出全屏；录制仍存 350×240 的画面</source>
        <translation>Double-click or F11: full screen, Esc: back; recording still saves 350×240 frames of the view</translation>
    </message>
    <message>
        <source>播放/暂停</source>
        <translation>Play/Pause</translation>
    </message>
    <message>
        <source>最小化</source>
        <translation>Minimize</translation>
    </message>
</context>
<context>
    <name>CPlayerPanelWidget</name>
    <message>
        <source>%1 · 帧 %2</source>
        <translation>%1 · frame %2</translation>
    </message>
    <message>
        <source>播放（空格键）</source>
        <translation>Play (Space)</translation>
    </message>
    <message>
        <source>暂停（空格键）</source>
        <translation>Pause (Space)</translation>
    </message>
    <message>
        <source>停止并回到开头</source>
        <translation>Stop and go back to the start</translation>
    </message>
    <message>
        <source>点击或拖动以定位。← →：前后 5 秒；Shift+← →：逐帧；I / O：设起点 / 终点；S 或 F12：存当前画面</source>
        <translation>Click or drag to move. Left/Right: 5 s back/on; Shift+Left/Right: one frame; I / O: set start / end; S or F12: save the frame</translation>
    </message>
</context>
<context>
    <name>CRMPlayerPage</name>
    <message>
        <source>RM 文件(*.rm,*.ram,*.ra,*.swf,*.avi) (*.rm *.ram *.ra *.swf *.avi)</source>
        <translation>RM Files(*.rm,*.ram,*.ra,*.swf,*.avi) (*.rm *.ram *.ra *.swf *.avi)</translation>
    </message>
    <message>
        <source>所有文件 (*.*) (*)</source>
        <translation>All Files (*.*) (*)</translation>
    </message>
</context>
<context>
    <name>CRecordingLine</name>
    <message>
        <source>（其中 %1 幅因同名文件已存在，改用了下一个空闲编号）</source>
        <translation> (%1 of them under the next free number, as a file had their name)</translation>
    </message>
    <message>
        <source>打开文件夹</source>
        <translation>Open Folder</translation>
    </message>
    <message>
        <source>录像中：已写入 %1 幅，丢弃 %2 幅，媒体时间 %3</source>
        <translation>Recording: %1 frames written, %2 dropped, media time %3</translation>
    </message>
    <message>
        <source>，保存到 %1</source>
        <translation>, saving to %1</translation>
    </message>
    <message>
        <source>录像结束：已写入 %1 幅，丢弃 %2 幅，媒体时间 %3</source>
        <translation>Recording ended: %1 frames written, %2 dropped, media time %3</translation>
    </message>
    <message>
        <source>，%1 幅未能写入</source>
        <translation>, %1 not written</translation>
    </message>
    <message>
        <source>，在 %1</source>
        <translation>, in %1</translation>
    </message>
    <message>
        <source>无法打开文件夹 %1。</source>
        <translation>Cannot open the folder %1.</translation>
    </message>
</context>
<context>
    <name>CScaleImagePage</name>
    <message>
        <source>目标文件</source>
        <translation>Target files</translation>
    </message>
    <message>
        <source>目标文件存放目录:</source>
        <translation>Target folder:</translation>
    </message>
    <message>
        <source>放大倍率:</source>
        <translation>Enlargement:</translation>
    </message>
    <message>
        <source>请先选择目标目录。</source>
        <translation>Please choose the target folder first.</translation>
    </message>
    <message>
        <source>请先选择放大倍率。</source>
        <translation>Please choose the enlargement first.</translation>
    </message>
    <message>
        <source>放大完毕。</source>
        <translation>Enlarging finished.</translation>
    </message>
    <message>
        <source>目标目录</source>
        <comment>hint</comment>
        <translation>target folder</translation>
    </message>
</context>
<context>
    <name>CSelectFolderDialog</name>
    <message>
        <source>BMP 文件 (*.bmp)</source>
        <translation>Bmp Files (*.bmp)</translation>
    </message>
    <message>
        <source>JPEG 文件 (*.jpg)</source>
        <translation>Jpeg Files (*.jpg)</translation>
    </message>
    <message>
        <source>所有文件 (*)</source>
        <translation>All Files (*)</translation>
    </message>
    <message>
        <source>选择目录</source>
        <translation>Select folder</translation>
    </message>
    <message>
        <source>当前目录：</source>
        <translation>Current Folder:</translation>
    </message>
    <message>
        <source>无效的目录</source>
        <translation>Invalid Folder</translation>
    </message>
    <message>
        <source>%1

该目录不存在，要创建它吗？</source>
        <translation>%1

This path does not exist. Do you want to create it?</translation>
    </message>
    <message>
        <source>无法创建目录：
%1</source>
        <translation>Could not create folder:
%1</translation>
    </message>
</context>
<context>
    <name>CWinMediaPlayerPage</name>
    <message>
        <source>录像时的播放速率：</source>
        <translation>Playback rate while recording:</translation>
    </message>
    <message>
        <source>媒体文件(*.avi;*.asf;*.wmv;*.mpeg;*.mpg;*.mp2;*.dat;*.wm;*.wma) (*.avi *.asf *.wmv *.mpeg *.mpg *.mp2 *.dat *.wm *.wma)</source>
        <translation>Media Files(*.avi;*.asf;*.wmv;*.mpeg;*.mpg;*.mp2;*.dat;*.wm;*.wma) (*.avi *.asf *.wmv *.mpeg *.mpg *.mp2 *.dat *.wm *.wma)</translation>
    </message>
    <message>
        <source>所有文件 (*.*) (*)</source>
        <translation>All Files (*.*) (*)</translation>
    </message>
</context>
<context>
    <name>Startup</name>
    <message>
        <source>单色</source>
        <translation>monochrome</translation>
    </message>
    <message>
        <source>16色</source>
        <translation>16-colour</translation>
    </message>
    <message>
        <source>256色</source>
        <translation>256-colour</translation>
    </message>
    <message>
        <source>16位高彩</source>
        <translation>16-bit high colour</translation>
    </message>
    <message>
        <source>您的显示器正工作在</source>
        <translation>Your display is working in </translation>
    </message>
    <message>
        <source>模式。为了达到最好的效果，本程序要求工作在24位或32位真彩模式下。要继续吗？</source>
        <translation> mode. For the best results this program needs 24-bit or 32-bit true colour. Continue?</translation>
    </message>
    <message>
        <source>抱歉，本程序只能工作在真彩模式下。请先设置您的显示器。</source>
        <translation>Sorry, this program only works in true-colour mode. Please set up your display first.</translation>
    </message>
</context>
<context>
    <name>ViewFolder</name>
    <message>
        <source>抱歉，在目标目录中找不到可查看的文件。</source>
        <translation>Sorry, no viewable file was found in the folder.</translation>
    </message>
</context>
<context>
    <name>CJobSummaryDialog</name>
    <message>
        <source>第255个以后的图像不计入平均（已读入）</source>
        <translation>Past the 255th image: read, but not averaged</translation>
    </message>
    <message>
        <source>已按要求停止，其余文件未处理。</source>
        <translation>Stopped as asked; the remaining files were not processed.</translation>
    </message>
    <message>
        <source>有文件处理失败，详见下表。</source>
        <translation>Some files failed; see the list below.</translation>
    </message>
    <message>
        <source>写入 %1 个文件，跳过 %2 个，失败 %3 个，移到回收站 %4 个。</source>
        <translation>%1 files written, %2 skipped, %3 failed, %4 moved to the trash.</translation>
    </message>
    <message>
        <source>打开结果</source>
        <translation>Open Result</translation>
    </message>
    <message>
        <source>打开文件夹</source>
        <translation>Open Folder</translation>
    </message>
    <message>
        <source>文件</source>
        <translation>File</translation>
    </message>
    <message>
        <source>结果</source>
        <translation>Outcome</translation>
    </message>
    <message>
        <source>原因</source>
        <translation>Reason</translation>
    </message>
    <message>
        <source>失败</source>
        <translation>Failed</translation>
    </message>
    <message>
        <source>跳过</source>
        <translation>Skipped</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>没有写入任何文件</source>
        <translation>No file was written</translation>
    </message>
    <message>
        <source>1 张图像尺寸与第一张不同，只合入了重叠部分</source>
        <translation>1 image differs in size from the first; only the overlap was merged in</translation>
    </message>
    <message>
        <source>%1 张图像尺寸与第一张不同，只合入了重叠部分</source>
        <translation>%1 images differ in size from the first; only the overlap was merged in</translation>
    </message>
    <message>
        <source>移到回收站的源文件：</source>
        <translation>Sources moved to the trash:</translation>
    </message>
    <message>
        <source>恢复源文件</source>
        <translation>Restore the sources</translation>
    </message>
    <message>
        <source>把本次任务移到回收站的源文件放回原位置，不覆盖已有的文件</source>
        <translation>Put the sources this job moved to the trash back where they were, never over a file standing there</translation>
    </message>
    <message>
        <source>已将 %1 个源文件恢复到原位置：</source>
        <translation>Put back where they were (%1):</translation>
    </message>
    <message>
        <source>%1 个源文件没有恢复：</source>
        <translation>Not put back (%1):</translation>
    </message>
    <message>
        <source>%1：%2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>原位置已有同名文件，没有覆盖它</source>
        <translation>a file of that name stands there now; it was not replaced</translation>
    </message>
    <message>
        <source>回收站中已没有这个文件</source>
        <translation>no longer in the trash</translation>
    </message>
    <message>
        <source>无法恢复：%1</source>
        <translation>cannot put it back: %1</translation>
    </message>
</context>
<context>
    <name>ViewFolder</name>
    <message>
        <source>没有可以打开图像文件的程序（例如看图软件）。
图像在文件夹：
%1</source>
        <translation>No program (such as an image viewer) could open the image files.
The images are in the folder:
%1</translation>
    </message>
</context>
<context>
    <name>CJobSummaryDialog</name>
    <message>
        <source>无法读取：%1</source>
        <translation>%1</translation>
    </message>
    <message>
        <source>写入失败：%1</source>
        <translation>%1</translation>
    </message>
    <message>
        <source>无法移到回收站：%1</source>
        <translation>cannot move to the trash: %1</translation>
    </message>
    <message>
        <source>任务进行中出现了同名文件，已保留原样</source>
        <translation>appeared while the job ran; left as it is</translation>
    </message>
    <message>
        <source>这是尚未读取的源文件；%1 保留原样</source>
        <translation>is a source file not read yet; %1 is left as it is</translation>
    </message>
    <message>
        <source>本次任务已由另一个源文件写入；%1 保留原样</source>
        <translation>already written from another source in this job; %1 is left as it is</translation>
    </message>
    <message>
        <source>这是要保留的源文件；%1 保留原样</source>
        <translation>is a source file that stays; %1 is left as it is</translation>
    </message>
    <message>
        <source>这是要保留的源图像，没有写入</source>
        <translation>is a source image that stays; nothing written there</translation>
    </message>
    <message>
        <source>不是普通文件（而是文件夹、管道或设备），没有写入</source>
        <translation>is not a regular file (a folder, a pipe or a device); nothing written there</translation>
    </message>
    <message>
        <source>无法生成 %1 的图像</source>
        <translation>cannot make a %1 image</translation>
    </message>
    <message>
        <source>无法生成缩放副本</source>
        <translation>cannot make the resized copy</translation>
    </message>
    <message>
        <source>无法创建文件夹 %1：%2</source>
        <translation>cannot create the folder %1: %2</translation>
    </message>
    <message>
        <source>%1 不是文件夹</source>
        <translation>%1 is not a folder</translation>
    </message>
    <message>
        <source>无法在文件夹 %1 中创建文件：%2</source>
        <translation>cannot write into the folder %1: %2</translation>
    </message>
    <message>
        <source>内存不足，无法为 %1 的图像累加</source>
        <translation>not enough memory for the sums of a %1 image</translation>
    </message>
    <message>
        <source>内存不足，无法合成这些图像</source>
        <translation>not enough memory to stack the pictures</translation>
    </message>
    <message>
        <source>无法使用文件夹 %1 中的临时图像存储：%2</source>
        <translation>cannot use the temporary picture store in %1: %2</translation>
    </message>
</context>
<context>
    <name>OpenDocument</name>
    <message>
        <source>没有可以打开文件夹的程序（例如文件管理器）。
文件夹：
%1</source>
        <translation>No program (such as a file manager) could open the folder.
The folder:
%1</translation>
    </message>
    <message>
        <source>没有可以打开这个文件的程序。
文件：
%1</source>
        <translation>No program could open the file.
The file:
%1</translation>
    </message>
</context>
<context>
    <name>CImageViewer</name>
    <message>
        <source>PNG 文件 (*.png)</source>
        <translation>PNG files (*.png)</translation>
    </message>
    <message>
        <source>适合窗口</source>
        <translation>Fit to window</translation>
    </message>
    <message>
        <source>对比</source>
        <translation>Compare</translation>
    </message>
    <message>
        <source>另存为…</source>
        <translation>Save as…</translation>
    </message>
    <message>
        <source>复制</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>用系统查看器打开</source>
        <translation>Open in the desktop's viewer</translation>
    </message>
    <message>
        <source>把整张图像缩放到窗口大小（F）；滚轮以指针处为中心缩放，拖动移动图像</source>
        <translation>Scale the whole picture to the window (F); the wheel zooms around the pointer, dragging moves the picture</translation>
    </message>
    <message>
        <source>一个图像像素对一个屏幕像素（1）</source>
        <translation>One picture pixel to one screen pixel (1)</translation>
    </message>
    <message>
        <source>对比（C）：分割线左边是对比图像，右边是结果，拖动分割线可移动它；按住空格键或 B 键看整张对比图像</source>
        <translation>Compare (C): the compare picture left of the split line, the result right of it; drag the line to move it, hold Space or B to see the whole compare picture</translation>
    </message>
    <message>
        <source>把图像另存为 BMP、JPEG 或 PNG 文件，格式按扩展名而定（Ctrl+S）</source>
        <translation>Save the picture as a BMP, JPEG or PNG file, by its extension (Ctrl+S)</translation>
    </message>
    <message>
        <source>把图像复制到剪贴板（Ctrl+C）</source>
        <translation>Copy the picture to the clipboard (Ctrl+C)</translation>
    </message>
    <message>
        <source>用系统为这种文件设定的程序打开（O）</source>
        <translation>Open with the program the desktop has for this kind of file (O)</translation>
    </message>
    <message>
        <source>%1 x %2 像素，缩放 %3%</source>
        <translation>%1 x %2 pixels, zoom %3%</translation>
    </message>
    <message>
        <source>；左：%1，右：结果</source>
        <translation>; left: %1, right: the result</translation>
    </message>
    <message>
        <source>；正在准备对比图像…</source>
        <translation>; preparing the compare picture…</translation>
    </message>
    <message>
        <source>无法保存 %1：
只能保存为 BMP、JPEG 或 PNG 文件，请用 .bmp、.jpg 或 .png 扩展名。</source>
        <translation>Cannot save %1:
the picture is saved as a BMP, JPEG or PNG file; name it .bmp, .jpg or .png.</translation>
    </message>
    <message>
        <source>无法保存 %1：
%2</source>
        <translation>Cannot save %1:
%2</translation>
    </message>
    <message>
        <source>另存为</source>
        <translation>Save as</translation>
    </message>
    <message>
        <source>无法读取图像 %1：
%2</source>
        <translation>Cannot read the picture %1:
%2</translation>
    </message>
</context>
<context>
    <name>CResultCompare</name>
    <message>
        <source>第一张源图像</source>
        <translation>the first source picture</translation>
    </message>
    <message>
        <source>同一批图像的普通平均</source>
        <translation>the plain mean of the same pictures</translation>
    </message>
    <message>
        <source>源图像按常规放大</source>
        <translation>the source picture, enlarged the usual way</translation>
    </message>
</context>
<context>
    <name>CMergeImagePage</name>
    <message>
        <source>平均</source>
        <translation>Mean</translation>
    </message>
    <message>
        <source>%1（已对齐）</source>
        <translation>%1 (aligned)</translation>
    </message>
    <message>
        <source>方法：%1；用了 %2 张图像，未用 %3 张。</source>
        <translation>Method: %1; %2 pictures used, %3 left out.</translation>
    </message>
    <message>
        <source>结果大小：%1 x %2 像素。</source>
        <translation>Result size: %1 x %2 pixels.</translation>
    </message>
</context>
<context>
    <name>CJobPageWidget</name>
    <message>
        <source>放大至%1x%2...</source>
        <translation>Enlarging to %1x%2...</translation>
    </message>
</context>
</TS>
