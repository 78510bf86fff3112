#pragma once

// The numeric ids the dialog tables give the controls (the int property "controlId") and the
// menu commands (the int property "commandId"). The program, the tests, the benchmarks and
// the tools all name them from here. Each page's ids sit in a namespace of their own, under
// the same names where pages have the same control.

namespace TcpServerIds {
enum Id : int {
    kHost = 1007,
    kIpInfo = 1008,
    kPort = 1006,
    kListen = 1004,
    kStop = 1005,
    kPeers = 1010,
    kClients = kPeers,
    kPeerButton = 1009,
    kDisconnect = kPeerButton,
    kSendAll = 1065,
    kSendBox = 1039,
    kSend = 1042,
    kTimedSend = 1038,
    kInterval = 1040,
    kHexSend = 1041,
    kAutoReply = 1062,
    kReplyData = 1063,
    kReplyEcho = 1064,
    kTx = 1011,
    kRx = 1012,
    kClearCounters = 1013,
    kHexDisplay = 1022,
    kClearData = 1054,
    kDataList = 1050,
    kEncoding = 1101,
    kFilter = 1102,
    kTxRate = 1103,
    kRxRate = 1104,
};
}  // namespace TcpServerIds

namespace UdpServerIds {
enum Id : int {
    kHost = 1027,
    kIpInfo = 1026,
    kPort = 1023,
    kListen = 1024,
    kStop = 1025,
    kPeers = 1029,
    kPeerButton = 1054,
    kDeletePeer = kPeerButton,
    kSendBox = 1043,
    kSend = 1047,
    kTimedSend = 1044,
    kInterval = 1045,
    kHexSend = 1046,
    kAutoReply = 1066,
    kReplyData = 1067,
    kReplyEcho = 1068,
    kTx = 1031,
    kRx = 1032,
    kClearCounters = 1030,
    kHexDisplay = 1048,
    kClearData = 1055,
    kDataList = 1035,
    kEncoding = 1111,
    kFilter = 1112,
    kTxRate = 1113,
    kRxRate = 1114,
};
}  // namespace UdpServerIds

namespace ClientIds {
enum Id : int {
    kHost = 1052,
    kPort = 1039,
    kProtocol = 1053,
    kConnect = 1054,
    kDisconnect = 1055,
    kSendBox = 1040,
    kSend = 1043,
    kTimedSend = 1057,
    kInterval = 1041,
    kHexSend = 1042,
    kTx = 1058,
    kRx = 1059,
    kClearCounters = 1060,
    kHexDisplay = 1061,
    kDataList = 1056,
    kEncoding = 1121,
    kFilter = 1122,
    kTxRate = 1123,
    kRxRate = 1124,
};
}  // namespace ClientIds

namespace LogPageIds {
enum Id : int { kList = 1049, kFilter = 1131 };
}  // namespace LogPageIds

namespace WebPageIds {
enum Id : int { kBrowser = 1051 };
}  // namespace WebPageIds

namespace MainDlgIds {
enum Id : int { kStatusBar = 0, kTabs = 1000 };
}  // namespace MainDlgIds

namespace IpInfoDlgIds {
enum Id : int { kOk = 1, kAdapters = 1020, kAddress = 1021, kMask = 1022, kGateway = 1023 };
}  // namespace IpInfoDlgIds

namespace CommandIds {
enum Id : int {
    kOk = 1,  // the tray menu's "关    闭" ends the window as OK does
    kShowMainWindow = 32771,
    kHideMainWindow = 32772,
    kIpInfo = 32773,
    kTcpServerPage = 32774,
    kUdpServerPage = 32775,
    kExit = 32776,
    kHelp = 32777,
    kVisitSite = 32779,
    kMailHelp = 32780,
    kAbout = 32781,
    kLogPage = 32782,
    kWebPage = 32783,
    kClientPage = 32784,
    kTcpServerLog = 32785,
    kUdpServerLog = 32786,
    kClientLog = 32787,
    kSystemLog = 32788,
    kRememberSettings = 32789,  // "记住设置", beyond the dialog tables
};
}  // namespace CommandIds
