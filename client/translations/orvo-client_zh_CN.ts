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
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>server busy, retrying</source>
        <translation>服务器忙，正在重试</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Log &amp;in again...</source>
        <translation>重新登录(&amp;I)...</translation>
    </message>
    <message>
        <source>The session will not log in again by itself.</source>
        <translation>本会话不会自动重新登录。</translation>
    </message>
    <message>
        <source>Log in again...</source>
        <translation>重新登录...</translation>
    </message>
    <message>
        <source>Later</source>
        <translation>稍后</translation>
    </message>
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
        <source>%1 request failed: %2</source>
        <translation>%1 请求失败：%2</translation>
    </message>
    <message>
        <source>%1 recovered</source>
        <translation>%1 已恢复</translation>
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
        <source>%1 (status %2)</source>
        <translation>%1（状态 %2）</translation>
    </message>
    <message>
        <source>login as %1 refused: %2</source>
        <translation>以 %1 登录被拒绝：%2</translation>
    </message>
    <message>
        <source>login refused: %1</source>
        <translation>登录被拒绝：%1</translation>
    </message>
    <message>
        <source>too many failed logins for this operator or from this address; try again in %1 s</source>
        <translation>该操作员或该地址登录失败次数过多，请 %1 秒后再试</translation>
    </message>
    <message>
        <source>cannot reach the counter server at %1: %2</source>
        <translation>无法连接柜台服务器 %1：%2</translation>
    </message>
    <message>
        <source>the counter server at %1 is busy: %2; try again in a moment</source>
        <translation>柜台服务器 %1 忙：%2；请稍后再试</translation>
    </message>
    <message>
        <source>no reply from the counter server within %1 ms</source>
        <translation>柜台服务器在 %1 毫秒内没有应答</translation>
    </message>
    <message>
        <source>downloading table %1: %2</source>
        <translation>下载代码表 %1 失败：%2</translation>
    </message>
    <message>
        <source>cannot start the embedded demo server: %1</source>
        <translation>无法启动内置演示服务器：%1</translation>
    </message>
    <message>
        <source>configuration file %1 does not exist</source>
        <translation>配置文件 %1 不存在</translation>
    </message>
    <message>
        <source>the counter server refused the connection: %1</source>
        <translation>柜台服务器拒绝了连接：%1</translation>
    </message>
    <message>
        <source>the certificate of the counter server does not match host %1</source>
        <translation>柜台服务器的证书与主机 %1 不符</translation>
    </message>
    <message>
        <source>the certificate of the counter server cannot be trusted: %1</source>
        <translation>柜台服务器的证书不可信：%1</translation>
    </message>
    <message>
        <source>the password would cross the network to %1 in plain text: turn TLS on for the counter server with --tls-ca FILE or TlsCa = FILE under [SERVER] (Tls = yes trusts the system's authorities), or accept plain text there with AllowPlainPassword = yes</source>
        <translation>密码将以明文经网络发往 %1：请为柜台服务器启用 TLS，用 --tls-ca 文件 或在 [SERVER] 下设 TlsCa = 文件（Tls = yes 信任系统的证书机构），或在该处设 AllowPlainPassword = yes 接受明文</translation>
    </message>
    <message>
        <source>cannot connect to the counter server %1: %2</source>
        <translation>无法连接柜台服务器 %1：%2</translation>
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
        <source>request not sent: %1</source>
        <translation>请求未发送：%1</translation>
    </message>
    <message>
        <source>cannot load the module: %1</source>
        <translation>无法加载模块：%1</translation>
    </message>
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
        <source>the counter server sent a row outside any request</source>
        <translation>柜台服务器在请求之外发来了数据行</translation>
    </message>
    <message>
        <source>the request was cancelled</source>
        <translation>请求已取消</translation>
    </message>
    <message>
        <source>reading the reply was stopped</source>
        <translation>读取应答已停止</translation>
    </message>
    <message>
        <source>login refused</source>
        <translation>登录被拒绝</translation>
    </message>
    <message>
        <source>unknown operator or wrong password</source>
        <translation>操作员不存在或密码错误</translation>
    </message>
    <message>
        <source>no counter server configured</source>
        <translation>未配置柜台服务器</translation>
    </message>
    <message>
        <source>timed out</source>
        <translation>超时</translation>
    </message>
    <message>
        <source>Connection refused</source>
        <translation>连接被拒绝</translation>
    </message>
    <message>
        <source>the TLS handshake failed</source>
        <translation>TLS 握手失败</translation>
    </message>
    <message>
        <source>the TLS handshake timed out</source>
        <translation>TLS 握手超时</translation>
    </message>
    <message>
        <source>the counter server closed the connection during the TLS handshake (does it speak TLS?)</source>
        <translation>柜台服务器在 TLS 握手时关闭了连接（它是否支持 TLS？）</translation>
    </message>
    <message>
        <source>reading over TLS failed</source>
        <translation>经 TLS 读取失败</translation>
    </message>
    <message>
        <source>writing over TLS failed</source>
        <translation>经 TLS 写入失败</translation>
    </message>
    <message>
        <source>reply incomplete: %1 rows received, the server sent %2</source>
        <translation>回复不完整：收到 %1 行，服务器发出 %2 行</translation>
    </message>
    <message>
        <source>reply inconsistent: %1 rows received, the server sent %2</source>
        <translation>回复不一致：收到 %1 行，服务器发出 %2 行</translation>
    </message>
    <message>
        <source>system error %1</source>
        <translation>系统错误 %1</translation>
    </message>
    <message>
        <source>name lookup error %1</source>
        <translation>域名解析错误 %1</translation>
    </message>
    <message>
        <source>not enough memory to read the reply from the counter server</source>
        <translation>内存不足，无法读取柜台服务器的回复</translation>
    </message>
    <message>
        <source>reading the reply from the counter server failed unexpectedly</source>
        <translation>读取柜台服务器的回复意外失败</translation>
    </message>
    <message>
        <source>unknown function</source>
        <translation>服务器不支持该功能</translation>
    </message>
    <message>
        <source>not logged in</source>
        <translation>未登录</translation>
    </message>
    <message>
        <source>not permitted</source>
        <translation>无权限</translation>
    </message>
    <message>
        <source>bad request</source>
        <translation>请求有误</translation>
    </message>
    <message>
        <source>internal error</source>
        <translation>服务器内部错误</translation>
    </message>
    <message>
        <source>limit reached or busy</source>
        <translation>已达上限或服务器繁忙</translation>
    </message>
    <message>
        <source>no counter server of the list answers: %1</source>
        <translation>无法连接柜台服务器：%1</translation>
    </message>
    <message>
        <source>; </source>
        <translation>；</translation>
    </message>
    <message>
        <source>server busy: %1</source>
        <translation>服务器繁忙：%1</translation>
    </message>
    <message>
        <source>session ended by an administrator</source>
        <translation>会话已被管理员结束</translation>
    </message>
    <message>
        <source>session ended: operator disabled</source>
        <translation>会话已结束：操作员已停用</translation>
    </message>
    <message>
        <source>session ended: operator removed</source>
        <translation>会话已结束：操作员已删除</translation>
    </message>
    <message>
        <source>session ended: password changed</source>
        <translation>会话已结束：密码已修改</translation>
    </message>
    <message>
        <source>too many connections</source>
        <translation>连接过多</translation>
    </message>
    <message>
        <source>too many connections waiting to log in</source>
        <translation>等待登录的连接过多</translation>
    </message>
    <message>
        <source>too many connections waiting to log in from this address</source>
        <translation>来自此地址的等待登录连接过多</translation>
    </message>
    <message>
        <source>too many logins waiting; try again</source>
        <translation>等待登录的请求过多，请稍后再试</translation>
    </message>
    <message>
        <source>the login waited too long; try again</source>
        <translation>登录等待超时，请稍后再试</translation>
    </message>
</context>
</TS>
