<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en">
<context>
    <name>LoginDialog</name>
    <message>
        <source>Log in to the counter</source>
        <translation>登录柜台</translation>
    </message>
    <message>
        <source>Server:</source>
        <translation>服务器：</translation>
    </message>
    <message>
        <source>&amp;Operator:</source>
        <translation>操作员(&amp;O)：</translation>
    </message>
    <message>
        <source>&amp;Password:</source>
        <translation>密码(&amp;P)：</translation>
    </message>
    <message>
        <source>&amp;Log in</source>
        <translation>登录(&amp;L)</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Function</source>
        <translation>功能号</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>名称</translation>
    </message>
    <message>
        <source>Module</source>
        <translation>模块</translation>
    </message>
    <message>
        <source>Version</source>
        <translation>版本</translation>
    </message>
    <message>
        <source>&amp;Open</source>
        <translation>打开(&amp;O)</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>文件(&amp;F)</translation>
    </message>
    <message>
        <source>&amp;Open function</source>
        <translation>打开功能(&amp;O)</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>退出(&amp;Q)</translation>
    </message>
    <message>
        <source>Code tables not on the server: %1</source>
        <translation>服务器上没有这些代码表：%1</translation>
    </message>
    <message>
        <source>function %1 is already open</source>
        <translation>功能 %1 已经打开</translation>
    </message>
    <message>
        <source>no loaded module serves function %1</source>
        <translation>没有已加载的模块提供功能 %1</translation>
    </message>
    <message>
        <source>function %1: %2</source>
        <translation>功能 %1：%2</translation>
    </message>
    <message>
        <source>channel failure</source>
        <translation>通道故障</translation>
    </message>
    <message>
        <source>status %1</source>
        <translation>状态 %1</translation>
    </message>
    <message>
        <source>%1 function %2 failed, %3: %4</source>
        <translation>%1 功能 %2 失败，%3：%4</translation>
    </message>
    <message>
        <source>Connected to %1</source>
        <translation>已连接 %1</translation>
    </message>
    <message>
        <source>Not connected to %1 (reconnects on the next request)</source>
        <translation>未连接 %1（下次请求时重新连接）</translation>
    </message>
    <message>
        <source> (embedded demo server)</source>
        <translation>（内置演示服务器）</translation>
    </message>
    <message>
        <source> over TLS</source>
        <translation>（TLS 加密）</translation>
    </message>
</context>
<context>
    <name>ClientApp</name>
    <message>
        <source>Loading the code tables...</source>
        <translation>正在加载代码表...</translation>
    </message>
    <message>
        <source>Loading the code table %1...</source>
        <translation>正在加载代码表 %1...</translation>
    </message>
</context>
<context>
    <name>ChannelFailure</name>
    <message>
        <source>the counter server closed the connection</source>
        <translation>柜台服务器关闭了连接</translation>
    </message>
    <message>
        <source>the counter server does not take the request</source>
        <translation>柜台服务器不接收请求</translation>
    </message>
    <message>
        <source>the counter server sent a request</source>
        <translation>柜台服务器发来了请求</translation>
    </message>
    <message>
        <source>the request was cancelled</source>
        <translation>请求已取消</translation>
    </message>
    <message>
        <source>login refused</source>
        <translation>登录被拒绝</translation>
    </message>
    <message>
        <source>cannot reach the counter server at %1</source>
        <translation>无法连接柜台服务器 %1</translation>
    </message>
    <message>
        <source>cannot connect to the counter server %1</source>
        <translation>无法连接柜台服务器 %1</translation>
    </message>
    <message>
        <source>sending to the counter server failed: %1</source>
        <translation>向柜台服务器发送失败：%1</translation>
    </message>
    <message>
        <source>receiving from the counter server failed: %1</source>
        <translation>从柜台服务器接收失败：%1</translation>
    </message>
    <message>
        <source>broken reply from the counter server: %1</source>
        <translation>柜台服务器的应答已损坏：%1</translation>
    </message>
    <message>
        <source>no reply from the counter server within %1</source>
        <translation>柜台服务器在 %1 内没有应答</translation>
    </message>
    <message>
        <source>request not sent: %1</source>
        <translation>请求未发送：%1</translation>
    </message>
    <message>
        <source>cannot load the module: %1</source>
        <translation>无法加载模块：%1</translation>
    </message>
    <message>
        <source>login as %1 refused: %2</source>
        <translation>以 %1 登录被拒绝：%2</translation>
    </message>
</context>
</TS>
