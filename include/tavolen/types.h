/* Records and callback types shared by every Tavolen C interface. */
#ifndef TAVOLEN_TYPES_H
#define TAVOLEN_TYPES_H

#include <stddef.h>
#include <stdint.h>

#include "tavolen/api.h"

TAVOLEN_BEGIN_DECLS

/* ---- Media frame: 32-byte header, then payloadLength bytes of payload. ---- */

#define TAVOLEN_FRAME_MAGIC 0xA815AA55u
#define FRAME_HEADER_SIZE 32
#define MAX_PAYLOAD 524288      /* 0x80000 */
#define MAX_FRAME_SIZE 524320   /* FRAME_HEADER_SIZE + MAX_PAYLOAD */

enum FrameType {
  FRAME_H264_KEY = 0,
  FRAME_H264_DELTA = 1,
  FRAME_JPEG = 3,
  FRAME_SOUND_ALARM = 4,
  FRAME_AUDIO_ADPCM = 6,
  FRAME_AUDIO_ALAW = 7,
  FRAME_TALK = 8,
  FRAME_MOTION_ALARM = 32,
  FRAME_GPIO_ALARM = 33,
  FRAME_MOTION_ALARM_CLEAR = 34,
  FRAME_GPIO_ALARM_CLEAR = 35,
  FRAME_SENSOR_ALARM_FIRST = 64,
  FRAME_SENSOR_ALARM_LAST = 95,
  FRAME_BAD_CREDENTIALS = 200,
  FRAME_MAX_CONNECTIONS = 201,
  FRAME_REQUEST_TYPE_ERROR = 202,
  FRAME_VIDEO_LOSS = 203
};

#define ADPCM_BLOCK_BYTES 512
#define ALAW_BLOCK_BYTES 960

typedef struct FrameHeader {
  uint32_t magic;
  uint8_t frameType;
  uint8_t reserved0;
  uint16_t milliseconds;
  uint32_t timestamp;
  uint32_t sequence;
  uint32_t payloadLength;
  uint8_t reserved1[5];
  int8_t timeZone;
  uint8_t reserved2[6];
} FrameHeader;

TAVOLEN_STATIC_ASSERT(sizeof(FrameHeader) == 32, "FrameHeader size");
TAVOLEN_STATIC_ASSERT(offsetof(FrameHeader, magic) == 0, "FrameHeader.magic");
TAVOLEN_STATIC_ASSERT(offsetof(FrameHeader, frameType) == 4, "FrameHeader.frameType");
TAVOLEN_STATIC_ASSERT(offsetof(FrameHeader, reserved0) == 5, "FrameHeader.reserved0");
TAVOLEN_STATIC_ASSERT(offsetof(FrameHeader, milliseconds) == 6, "FrameHeader.milliseconds");
TAVOLEN_STATIC_ASSERT(offsetof(FrameHeader, timestamp) == 8, "FrameHeader.timestamp");
TAVOLEN_STATIC_ASSERT(offsetof(FrameHeader, sequence) == 12, "FrameHeader.sequence");
TAVOLEN_STATIC_ASSERT(offsetof(FrameHeader, payloadLength) == 16, "FrameHeader.payloadLength");
TAVOLEN_STATIC_ASSERT(offsetof(FrameHeader, reserved1) == 20, "FrameHeader.reserved1");
TAVOLEN_STATIC_ASSERT(offsetof(FrameHeader, timeZone) == 25, "FrameHeader.timeZone");
TAVOLEN_STATIC_ASSERT(offsetof(FrameHeader, reserved2) == 26, "FrameHeader.reserved2");

/* ---- Camera link ---- */

typedef struct DeviceConnectParams {
  char user[64];
  char password[64];
  char host[64];
  int32_t port;
  char reserved[64];
} DeviceConnectParams;

TAVOLEN_STATIC_ASSERT(sizeof(DeviceConnectParams) == 260, "DeviceConnectParams size");
TAVOLEN_STATIC_ASSERT(offsetof(DeviceConnectParams, user) == 0, "DeviceConnectParams.user");
TAVOLEN_STATIC_ASSERT(offsetof(DeviceConnectParams, password) == 64, "DeviceConnectParams.password");
TAVOLEN_STATIC_ASSERT(offsetof(DeviceConnectParams, host) == 128, "DeviceConnectParams.host");
TAVOLEN_STATIC_ASSERT(offsetof(DeviceConnectParams, port) == 192, "DeviceConnectParams.port");
TAVOLEN_STATIC_ASSERT(offsetof(DeviceConnectParams, reserved) == 196, "DeviceConnectParams.reserved");

enum LinkEvent {
  LinkEventStreamLost = 0,
  LinkEventBadCredentials = 1,
  LinkEventMaxConnections = 2,
  LinkEventRequestTypeError = 3,
  LinkEventVideoLoss = 4,
  LinkEventMotionAlarm = 32,
  LinkEventGpioAlarm = 33,
  LinkEventMotionAlarmClear = 34,
  LinkEventGpioAlarmClear = 35,
  LinkEventSensorAlarmFirst = 64,
  LinkEventSensorAlarmLast = 95,
  LinkEventStreamConnected = 100,
  LinkEventStreamConnectFailed = 101,
  LinkEventSoundAlarm = 224
};

typedef void (*LinkEventCallback)(int32_t event, void* user);
typedef int32_t (*FrameCallback)(const uint8_t* frame, int32_t length, void* user);
typedef void (*ParamCallback)(int32_t code, const void* record, int32_t size, void* user);
typedef void (*ResultCallback)(int32_t code, int32_t result);
typedef void (*RecordListCallback)(const char* fileName, const char* namePrefix, int32_t size,
                                   void* user);

/* ---- Camera parameter commands ---- */

enum CommandCode {
  CommandSetNetwork = 0x2000,
  CommandGetNetwork = 0x2001,
  CommandSetUsers = 0x2002,
  CommandGetUsers = 0x2003,
  CommandSetDdns = 0x2004,
  CommandGetDdns = 0x2005,
  CommandSetFtp = 0x2006,
  CommandGetFtp = 0x2007,
  CommandSetMail = 0x2008,
  CommandGetMail = 0x2009,
  CommandSetMisc = 0x2010,
  CommandGetMisc = 0x2011,
  CommandSetWifi = 0x2012,
  CommandGetWifiScan = 0x2013,
  CommandReboot = 0x2700,
  CommandSetAlias = 0x2702
};

#define COMMAND_DATA_SIZE 1024

typedef struct NetworkParams {
  char ip[64];
  char mask[64];
  char gateway[64];
  char dns1[64];
  char dns2[64];
  int32_t dhcp;
  int32_t port;
  int32_t reserved; /* the record is 332 bytes; these 4 are never read or sent */
} NetworkParams;

TAVOLEN_STATIC_ASSERT(sizeof(NetworkParams) == 332, "NetworkParams size");
TAVOLEN_STATIC_ASSERT(offsetof(NetworkParams, ip) == 0, "NetworkParams.ip");
TAVOLEN_STATIC_ASSERT(offsetof(NetworkParams, mask) == 64, "NetworkParams.mask");
TAVOLEN_STATIC_ASSERT(offsetof(NetworkParams, gateway) == 128, "NetworkParams.gateway");
TAVOLEN_STATIC_ASSERT(offsetof(NetworkParams, dns1) == 192, "NetworkParams.dns1");
TAVOLEN_STATIC_ASSERT(offsetof(NetworkParams, dns2) == 256, "NetworkParams.dns2");
TAVOLEN_STATIC_ASSERT(offsetof(NetworkParams, dhcp) == 320, "NetworkParams.dhcp");
TAVOLEN_STATIC_ASSERT(offsetof(NetworkParams, port) == 324, "NetworkParams.port");
TAVOLEN_STATIC_ASSERT(offsetof(NetworkParams, reserved) == 328, "NetworkParams.reserved");

typedef struct UserParams {
  char user1[64];
  char pwd1[64];
  char user2[64];
  char pwd2[64];
  char user3[64];
  char pwd3[64];
} UserParams;

TAVOLEN_STATIC_ASSERT(sizeof(UserParams) == 384, "UserParams size");
TAVOLEN_STATIC_ASSERT(offsetof(UserParams, user1) == 0, "UserParams.user1");
TAVOLEN_STATIC_ASSERT(offsetof(UserParams, pwd1) == 64, "UserParams.pwd1");
TAVOLEN_STATIC_ASSERT(offsetof(UserParams, user2) == 128, "UserParams.user2");
TAVOLEN_STATIC_ASSERT(offsetof(UserParams, pwd2) == 192, "UserParams.pwd2");
TAVOLEN_STATIC_ASSERT(offsetof(UserParams, user3) == 256, "UserParams.user3");
TAVOLEN_STATIC_ASSERT(offsetof(UserParams, pwd3) == 320, "UserParams.pwd3");

typedef struct DdnsParams {
  int32_t service;
  char user[64];
  char pwd[64];
  char host[64];
  char proxy_svr[64];
  int32_t ddns_mode;
  int32_t proxy_port;
} DdnsParams;

TAVOLEN_STATIC_ASSERT(sizeof(DdnsParams) == 268, "DdnsParams size");
TAVOLEN_STATIC_ASSERT(offsetof(DdnsParams, service) == 0, "DdnsParams.service");
TAVOLEN_STATIC_ASSERT(offsetof(DdnsParams, user) == 4, "DdnsParams.user");
TAVOLEN_STATIC_ASSERT(offsetof(DdnsParams, pwd) == 68, "DdnsParams.pwd");
TAVOLEN_STATIC_ASSERT(offsetof(DdnsParams, host) == 132, "DdnsParams.host");
TAVOLEN_STATIC_ASSERT(offsetof(DdnsParams, proxy_svr) == 196, "DdnsParams.proxy_svr");
TAVOLEN_STATIC_ASSERT(offsetof(DdnsParams, ddns_mode) == 260, "DdnsParams.ddns_mode");
TAVOLEN_STATIC_ASSERT(offsetof(DdnsParams, proxy_port) == 264, "DdnsParams.proxy_port");

typedef struct FtpParams {
  char svr[64];
  char user[64];
  char pwd[64];
  char dir[128];
  int32_t port;
  int32_t mode;
  int32_t upload_interval;
} FtpParams;

TAVOLEN_STATIC_ASSERT(sizeof(FtpParams) == 332, "FtpParams size");
TAVOLEN_STATIC_ASSERT(offsetof(FtpParams, svr) == 0, "FtpParams.svr");
TAVOLEN_STATIC_ASSERT(offsetof(FtpParams, user) == 64, "FtpParams.user");
TAVOLEN_STATIC_ASSERT(offsetof(FtpParams, pwd) == 128, "FtpParams.pwd");
TAVOLEN_STATIC_ASSERT(offsetof(FtpParams, dir) == 192, "FtpParams.dir");
TAVOLEN_STATIC_ASSERT(offsetof(FtpParams, port) == 320, "FtpParams.port");
TAVOLEN_STATIC_ASSERT(offsetof(FtpParams, mode) == 324, "FtpParams.mode");
TAVOLEN_STATIC_ASSERT(offsetof(FtpParams, upload_interval) == 328, "FtpParams.upload_interval");

typedef struct MailParams {
  char svr[64];
  char user[64];
  char pwd[64];
  char sender[64];
  char receiver1[64];
  char receiver2[64];
  char receiver3[64];
  char receiver4[64];
  int32_t inet_ip;
  int32_t smtpport;
  int32_t ssl;
} MailParams;

TAVOLEN_STATIC_ASSERT(sizeof(MailParams) == 524, "MailParams size");
TAVOLEN_STATIC_ASSERT(offsetof(MailParams, svr) == 0, "MailParams.svr");
TAVOLEN_STATIC_ASSERT(offsetof(MailParams, user) == 64, "MailParams.user");
TAVOLEN_STATIC_ASSERT(offsetof(MailParams, pwd) == 128, "MailParams.pwd");
TAVOLEN_STATIC_ASSERT(offsetof(MailParams, sender) == 192, "MailParams.sender");
TAVOLEN_STATIC_ASSERT(offsetof(MailParams, receiver1) == 256, "MailParams.receiver1");
TAVOLEN_STATIC_ASSERT(offsetof(MailParams, receiver2) == 320, "MailParams.receiver2");
TAVOLEN_STATIC_ASSERT(offsetof(MailParams, receiver3) == 384, "MailParams.receiver3");
TAVOLEN_STATIC_ASSERT(offsetof(MailParams, receiver4) == 448, "MailParams.receiver4");
TAVOLEN_STATIC_ASSERT(offsetof(MailParams, inet_ip) == 512, "MailParams.inet_ip");
TAVOLEN_STATIC_ASSERT(offsetof(MailParams, smtpport) == 516, "MailParams.smtpport");
TAVOLEN_STATIC_ASSERT(offsetof(MailParams, ssl) == 520, "MailParams.ssl");

typedef struct MiscParams {
  int32_t led_mode;
  int32_t ptz_center_onstart;
  int32_t unused;
  int32_t ptz_run_times;
  int32_t ptz_patrol_rate;
  int32_t ptz_patrol_up_rate;
  int32_t ptz_patrol_down_rate;
  int32_t ptz_patrol_left_rate;
  int32_t ptz_patrol_right_rate;
  int32_t ptz_dispreset;
  int32_t ptz_preset;
} MiscParams;

TAVOLEN_STATIC_ASSERT(sizeof(MiscParams) == 44, "MiscParams size");
TAVOLEN_STATIC_ASSERT(offsetof(MiscParams, led_mode) == 0, "MiscParams.led_mode");
TAVOLEN_STATIC_ASSERT(offsetof(MiscParams, ptz_center_onstart) == 4, "MiscParams.ptz_center_onstart");
TAVOLEN_STATIC_ASSERT(offsetof(MiscParams, unused) == 8, "MiscParams.unused");
TAVOLEN_STATIC_ASSERT(offsetof(MiscParams, ptz_run_times) == 12, "MiscParams.ptz_run_times");
TAVOLEN_STATIC_ASSERT(offsetof(MiscParams, ptz_patrol_rate) == 16, "MiscParams.ptz_patrol_rate");
TAVOLEN_STATIC_ASSERT(offsetof(MiscParams, ptz_patrol_up_rate) == 20, "MiscParams.ptz_patrol_up_rate");
TAVOLEN_STATIC_ASSERT(offsetof(MiscParams, ptz_patrol_down_rate) == 24, "MiscParams.ptz_patrol_down_rate");
TAVOLEN_STATIC_ASSERT(offsetof(MiscParams, ptz_patrol_left_rate) == 28, "MiscParams.ptz_patrol_left_rate");
TAVOLEN_STATIC_ASSERT(offsetof(MiscParams, ptz_patrol_right_rate) == 32, "MiscParams.ptz_patrol_right_rate");
TAVOLEN_STATIC_ASSERT(offsetof(MiscParams, ptz_dispreset) == 36, "MiscParams.ptz_dispreset");
TAVOLEN_STATIC_ASSERT(offsetof(MiscParams, ptz_preset) == 40, "MiscParams.ptz_preset");

/* Laid out in the 1024-byte command data area; wpa_psk runs to its end. */
typedef struct WifiSettings {
  int32_t enable;
  char ssid[132];
  int32_t mode;
  int32_t authtype;
  int32_t encrypt;
  int32_t keyformat;
  int32_t defkey;
  char key1[128];
  char key2[128];
  char key3[128];
  char key4[128];
  int32_t key1_bits;
  int32_t key2_bits;
  int32_t key3_bits;
  int32_t key4_bits;
  char wpa_psk[340];
} WifiSettings;

TAVOLEN_STATIC_ASSERT(sizeof(WifiSettings) == COMMAND_DATA_SIZE, "WifiSettings size");
TAVOLEN_STATIC_ASSERT(offsetof(WifiSettings, enable) == 0, "WifiSettings.enable");
TAVOLEN_STATIC_ASSERT(offsetof(WifiSettings, ssid) == 4, "WifiSettings.ssid");
TAVOLEN_STATIC_ASSERT(offsetof(WifiSettings, mode) == 136, "WifiSettings.mode");
TAVOLEN_STATIC_ASSERT(offsetof(WifiSettings, authtype) == 140, "WifiSettings.authtype");
TAVOLEN_STATIC_ASSERT(offsetof(WifiSettings, encrypt) == 144, "WifiSettings.encrypt");
TAVOLEN_STATIC_ASSERT(offsetof(WifiSettings, keyformat) == 148, "WifiSettings.keyformat");
TAVOLEN_STATIC_ASSERT(offsetof(WifiSettings, defkey) == 152, "WifiSettings.defkey");
TAVOLEN_STATIC_ASSERT(offsetof(WifiSettings, key1) == 156, "WifiSettings.key1");
TAVOLEN_STATIC_ASSERT(offsetof(WifiSettings, key2) == 284, "WifiSettings.key2");
TAVOLEN_STATIC_ASSERT(offsetof(WifiSettings, key3) == 412, "WifiSettings.key3");
TAVOLEN_STATIC_ASSERT(offsetof(WifiSettings, key4) == 540, "WifiSettings.key4");
TAVOLEN_STATIC_ASSERT(offsetof(WifiSettings, key1_bits) == 668, "WifiSettings.key1_bits");
TAVOLEN_STATIC_ASSERT(offsetof(WifiSettings, key2_bits) == 672, "WifiSettings.key2_bits");
TAVOLEN_STATIC_ASSERT(offsetof(WifiSettings, key3_bits) == 676, "WifiSettings.key3_bits");
TAVOLEN_STATIC_ASSERT(offsetof(WifiSettings, key4_bits) == 680, "WifiSettings.key4_bits");
TAVOLEN_STATIC_ASSERT(offsetof(WifiSettings, wpa_psk) == 684, "WifiSettings.wpa_psk");

typedef struct WifiScanEntry {
  char ssid[64];
  char mac[64];
  int32_t security;
  char dbm0[32];
  char dbm1[32];
  int32_t mode;
} WifiScanEntry;

TAVOLEN_STATIC_ASSERT(sizeof(WifiScanEntry) == 200, "WifiScanEntry size");
TAVOLEN_STATIC_ASSERT(offsetof(WifiScanEntry, ssid) == 0, "WifiScanEntry.ssid");
TAVOLEN_STATIC_ASSERT(offsetof(WifiScanEntry, mac) == 64, "WifiScanEntry.mac");
TAVOLEN_STATIC_ASSERT(offsetof(WifiScanEntry, security) == 128, "WifiScanEntry.security");
TAVOLEN_STATIC_ASSERT(offsetof(WifiScanEntry, dbm0) == 132, "WifiScanEntry.dbm0");
TAVOLEN_STATIC_ASSERT(offsetof(WifiScanEntry, dbm1) == 164, "WifiScanEntry.dbm1");
TAVOLEN_STATIC_ASSERT(offsetof(WifiScanEntry, mode) == 196, "WifiScanEntry.mode");

#define WIFI_SCAN_MAX_ENTRIES 100

typedef struct WifiScanList {
  WifiScanEntry entries[WIFI_SCAN_MAX_ENTRIES];
} WifiScanList;

TAVOLEN_STATIC_ASSERT(sizeof(WifiScanList) == 20000, "WifiScanList size");
TAVOLEN_STATIC_ASSERT(offsetof(WifiScanList, entries) == 0, "WifiScanList.entries");

/* ---- LAN search ---- */

/* The reply datagram: "DH", a 16-bit command, then the SearchReply bytes. */
#define SEARCH_PORT 8600
#define SEARCH_REQUEST_COMMAND 0x0101
#define SEARCH_REPLY_COMMAND 0x0801
#define SEARCH_DATAGRAM_MAX 1400
#define SEARCH_REPLY_HEADER_SIZE 4
#define SEARCH_REPLY_IP_OFFSET 0
#define SEARCH_REPLY_PORT_OFFSET 86
#define SEARCH_REPLY_NAME_OFFSET 120
#define SEARCH_REPLY_COPY_SIZE 320

typedef int32_t (*SearchCallback)(const uint8_t* reply, void* user);

/* ---- On-screen text ---- */

enum OsdKind { OsdKindText = 0, OsdKindTimeStamp = 1 };
enum OsdPosition {
  OsdTopLeft = 10,
  OsdTopRight = 11,
  OsdBottomLeft = 12,
  OsdBottomRight = 13,
  OsdCentre = 14
};
#define OSD_SLOT_COUNT 16

typedef struct OsdRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
} OsdRect;

typedef struct OsdItem {
  char faceName[24];
  int32_t fontWidth;
  int32_t fontHeight;
  uint8_t red;
  uint8_t green;
  uint8_t blue;
  uint8_t unused;
  OsdRect rect;
  char text[128];
  int32_t kind;
  int32_t position;
} OsdItem;

TAVOLEN_STATIC_ASSERT(sizeof(OsdRect) == 16, "OsdRect size");
TAVOLEN_STATIC_ASSERT(sizeof(OsdItem) == 188, "OsdItem size");
TAVOLEN_STATIC_ASSERT(offsetof(OsdItem, faceName) == 0, "OsdItem.faceName");
TAVOLEN_STATIC_ASSERT(offsetof(OsdItem, fontWidth) == 24, "OsdItem.fontWidth");
TAVOLEN_STATIC_ASSERT(offsetof(OsdItem, fontHeight) == 28, "OsdItem.fontHeight");
TAVOLEN_STATIC_ASSERT(offsetof(OsdItem, red) == 32, "OsdItem.red");
TAVOLEN_STATIC_ASSERT(offsetof(OsdItem, green) == 33, "OsdItem.green");
TAVOLEN_STATIC_ASSERT(offsetof(OsdItem, blue) == 34, "OsdItem.blue");
TAVOLEN_STATIC_ASSERT(offsetof(OsdItem, unused) == 35, "OsdItem.unused");
TAVOLEN_STATIC_ASSERT(offsetof(OsdItem, rect) == 36, "OsdItem.rect");
TAVOLEN_STATIC_ASSERT(offsetof(OsdItem, text) == 52, "OsdItem.text");
TAVOLEN_STATIC_ASSERT(offsetof(OsdItem, kind) == 180, "OsdItem.kind");
TAVOLEN_STATIC_ASSERT(offsetof(OsdItem, position) == 184, "OsdItem.position");

/* ---- Local recording ---- */

typedef struct RecordStartParams {
  char recordPath[512];
  char deviceFolder[256];
  uint32_t fileLen;
  uint32_t timeLen;
  uint32_t reserved;
  uint32_t cover;
} RecordStartParams;

TAVOLEN_STATIC_ASSERT(sizeof(RecordStartParams) == 784, "RecordStartParams size");
TAVOLEN_STATIC_ASSERT(offsetof(RecordStartParams, recordPath) == 0, "RecordStartParams.recordPath");
TAVOLEN_STATIC_ASSERT(offsetof(RecordStartParams, deviceFolder) == 512, "RecordStartParams.deviceFolder");
TAVOLEN_STATIC_ASSERT(offsetof(RecordStartParams, fileLen) == 768, "RecordStartParams.fileLen");
TAVOLEN_STATIC_ASSERT(offsetof(RecordStartParams, timeLen) == 772, "RecordStartParams.timeLen");
TAVOLEN_STATIC_ASSERT(offsetof(RecordStartParams, reserved) == 776, "RecordStartParams.reserved");
TAVOLEN_STATIC_ASSERT(offsetof(RecordStartParams, cover) == 780, "RecordStartParams.cover");

/* ---- Players, talk ---- */

enum PlayerKind { PlayerKindH264 = 0, PlayerKindJpeg = 1 };

/* Receives each 256-byte ADPCM block of microphone sound, on the capture thread. */
typedef int32_t (*TalkCallback)(const uint8_t* data, int32_t length, void* user);

TAVOLEN_END_DECLS

#endif
