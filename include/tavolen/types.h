/** @file
 * Records, codes and callback types shared by every Tavolen C interface.
 *
 * Every record is a fixed little-endian layout that crosses the library
 * boundary; static assertions pin each size and offset, and records only ever
 * grow at their end. Text fields are NUL-terminated UTF-8 unless a field says
 * otherwise; a text that does not fit its field is cut at the field's size
 * less one. */
#ifndef TAVOLEN_TYPES_H
#define TAVOLEN_TYPES_H

#include <stddef.h>
#include <stdint.h>

#include "tavolen/api.h"

TAVOLEN_BEGIN_DECLS

/* ---- Media frame: 32-byte header, then payloadLength bytes of payload. ---- */

/** First word of every frame a camera sends (bytes 55 AA 15 A8 on the wire). */
#define TAVOLEN_FRAME_MAGIC 0xA815AA55u
/** Size of a FrameHeader. */
#define FRAME_HEADER_SIZE 32
/** Largest payload of one frame (0x80000 bytes). */
#define MAX_PAYLOAD 524288      /* 0x80000 */
/** Largest whole frame: FRAME_HEADER_SIZE + MAX_PAYLOAD. */
#define MAX_FRAME_SIZE 524320   /* FRAME_HEADER_SIZE + MAX_PAYLOAD */

/** FrameHeader::frameType: what a frame carries. Media frames (0, 1, 3, 6, 7)
 * reach frame callbacks and players; status and alarm frames (4, 32 to 35,
 * 64 to 95, 200 to 203) of the live stream become LinkEvent codes instead. */
enum FrameType {
  FRAME_H264_KEY = 0,             /**< an H.264 access unit from which decoding can start */
  FRAME_H264_DELTA = 1,           /**< an H.264 access unit that depends on earlier ones */
  FRAME_JPEG = 3,                 /**< one complete JPEG picture */
  FRAME_SOUND_ALARM = 4,          /**< sound alarm (LinkEventSoundAlarm), no media */
  FRAME_AUDIO_ADPCM = 6,          /**< ADPCM_BLOCK_BYTES of IMA ADPCM, 1024 samples of 8000 Hz mono */
  FRAME_AUDIO_ALAW = 7,           /**< ALAW_BLOCK_BYTES of G.711 A-law, 960 samples of 8000 Hz mono */
  FRAME_TALK = 8,                 /**< talk sound sent to the camera (device_net_work_sendTalkData) */
  FRAME_MOTION_ALARM = 32,        /**< motion alarm, no media */
  FRAME_GPIO_ALARM = 33,          /**< input (GPIO) alarm, no media */
  FRAME_MOTION_ALARM_CLEAR = 34,  /**< motion alarm ended, no media */
  FRAME_GPIO_ALARM_CLEAR = 35,    /**< input alarm ended, no media */
  FRAME_SENSOR_ALARM_FIRST = 64,  /**< first sensor alarm code, no media */
  FRAME_SENSOR_ALARM_LAST = 95,   /**< last sensor alarm code */
  FRAME_BAD_CREDENTIALS = 200,    /**< the camera refused the user name or password */
  FRAME_MAX_CONNECTIONS = 201,    /**< the camera serves no more connections */
  FRAME_REQUEST_TYPE_ERROR = 202, /**< the camera did not understand the request */
  FRAME_VIDEO_LOSS = 203          /**< the camera has no picture to send */
};

/** Payload length of every FRAME_AUDIO_ADPCM frame; frames of another length are dropped. */
#define ADPCM_BLOCK_BYTES 512
/** Payload length of every FRAME_AUDIO_ALAW frame; frames of another length are dropped. */
#define ALAW_BLOCK_BYTES 960

/** The 32 bytes in front of every media frame. A whole frame is the header
 * followed by payloadLength bytes, in one block; frame callbacks receive it as
 * (address of the header, FRAME_HEADER_SIZE + payloadLength). */
typedef struct FrameHeader {
  uint32_t magic;         /**< TAVOLEN_FRAME_MAGIC (0 in talk packets) */
  uint8_t frameType;      /**< a FrameType code */
  uint8_t reserved0;      /**< not interpreted */
  uint16_t milliseconds;  /**< millisecond part (0 to 999) of the frame's time */
  uint32_t timestamp;     /**< the frame's time: seconds since 1970-01-01 00:00:00 */
  uint32_t sequence;      /**< the camera's counter; not interpreted */
  uint32_t payloadLength; /**< payload bytes after the header, at most MAX_PAYLOAD */
  uint8_t reserved1[5];   /**< not interpreted */
  int8_t timeZone;        /**< whole hours: the time shown is timestamp - timeZone * 3600, as UTC */
  uint8_t reserved2[6];   /**< not interpreted */
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

/** Which camera a link talks to (device_net_work_createInstance). Unused
 * bytes should be zero. */
typedef struct DeviceConnectParams {
  char user[64];     /**< user name sent with every request */
  char password[64]; /**< password sent with every request */
  char host[64];     /**< host name or dotted IPv4 address of the camera */
  int32_t port;      /**< TCP port of the camera's HTTP server */
  char reserved[64]; /**< zero; never read */
} DeviceConnectParams;

TAVOLEN_STATIC_ASSERT(sizeof(DeviceConnectParams) == 260, "DeviceConnectParams size");
TAVOLEN_STATIC_ASSERT(offsetof(DeviceConnectParams, user) == 0, "DeviceConnectParams.user");
TAVOLEN_STATIC_ASSERT(offsetof(DeviceConnectParams, password) == 64, "DeviceConnectParams.password");
TAVOLEN_STATIC_ASSERT(offsetof(DeviceConnectParams, host) == 128, "DeviceConnectParams.host");
TAVOLEN_STATIC_ASSERT(offsetof(DeviceConnectParams, port) == 192, "DeviceConnectParams.port");
TAVOLEN_STATIC_ASSERT(offsetof(DeviceConnectParams, reserved) == 196, "DeviceConnectParams.reserved");

/** Codes a link reports to its LinkEventCallback. After 2, 3 and 4 the link
 * stops reconnecting until the next device_net_work_startStream; after 1 it
 * keeps trying. */
enum LinkEvent {
  LinkEventStreamLost = 0,            /**< no frame for 5 s, and before every (re)connection, the first included */
  LinkEventBadCredentials = 1,        /**< the camera refused the user name or password */
  LinkEventMaxConnections = 2,        /**< the camera serves no more connections */
  LinkEventRequestTypeError = 3,      /**< the camera did not understand the request */
  LinkEventVideoLoss = 4,             /**< the camera has no picture */
  LinkEventMotionAlarm = 32,          /**< motion alarm */
  LinkEventGpioAlarm = 33,            /**< input (GPIO) alarm */
  LinkEventMotionAlarmClear = 34,     /**< motion alarm ended */
  LinkEventGpioAlarmClear = 35,       /**< input alarm ended */
  LinkEventSensorAlarmFirst = 64,     /**< sensor alarms: the code is the frame's type, 64 to 95 */
  LinkEventSensorAlarmLast = 95,      /**< last sensor alarm code */
  LinkEventStreamConnected = 100,     /**< the live stream was (re)connected and requested */
  LinkEventStreamConnectFailed = 101, /**< a (re)connection failed; the link tries again */
  LinkEventSoundAlarm = 224           /**< sound alarm */
};

/** Receives a link's LinkEvent codes, on one of the link's own threads. It must
 * return soon and must not destroy the link. */
typedef void (*LinkEventCallback)(int32_t event, void* user);
/** Receives one whole frame (FrameHeader and payload, length bytes in all) on
 * the thread of the connection that read it. The frame is valid only during
 * the call. The result is ignored. */
typedef int32_t (*FrameCallback)(const uint8_t* frame, int32_t length, void* user);
/** Receives the record a read command produced (see CommandCode): its code,
 * the record and its size, on the link's command thread. The record is valid
 * only during the call. */
typedef void (*ParamCallback)(int32_t code, const void* record, int32_t size, void* user);
/** Receives the result of a write command (see CommandCode): 0 when the
 * camera answered ok, -1 otherwise. Called on the link's command thread; it
 * gets no user value. */
typedef void (*ResultCallback)(int32_t code, int32_t result);
/** Receives one SD-card recording of a search (device_record_file_search_list):
 * its file name, a 128-byte buffer holding the name's first 8 bytes followed
 * by zeros, and its size in bytes. Called on the search's own thread; both
 * texts are valid only during the call. */
typedef void (*RecordListCallback)(const char* fileName, const char* namePrefix, int32_t size,
                                   void* user);

/* ---- Camera parameter commands ---- */

/** Settings commands. A read command (device_net_work_get_network) delivers
 * its record to the ParamCallback; a write command (device_net_work_set_network
 * with the record as data) reports 0 or -1 to the ResultCallback. Writing the
 * network, the users or the Wi-Fi successfully also reboots the camera. */
enum CommandCode {
  CommandSetNetwork = 0x2000,  /**< write a NetworkParams; reboots */
  CommandGetNetwork = 0x2001,  /**< read a NetworkParams */
  CommandSetUsers = 0x2002,    /**< write a UserParams; reboots */
  CommandGetUsers = 0x2003,    /**< read a UserParams */
  CommandSetDdns = 0x2004,     /**< write a DdnsParams */
  CommandGetDdns = 0x2005,     /**< read a DdnsParams */
  CommandSetFtp = 0x2006,      /**< write an FtpParams */
  CommandGetFtp = 0x2007,      /**< read an FtpParams */
  CommandSetMail = 0x2008,     /**< write a MailParams */
  CommandGetMail = 0x2009,     /**< read a MailParams */
  CommandSetMisc = 0x2010,     /**< write a MiscParams */
  CommandGetMisc = 0x2011,     /**< read a MiscParams, delivered with the code CommandSetMail (0x2008) */
  CommandSetWifi = 0x2012,     /**< write a WifiSettings; reboots */
  CommandGetWifiScan = 0x2013, /**< read the access points the camera sees, a WifiScanList */
  CommandReboot = 0x2700,      /**< restart the camera; nothing is reported */
  CommandSetAlias = 0x2702     /**< write the camera's name (data: the text, at most 64 bytes) */
};

/** Largest data record of a command; longer data is cut to this size. */
#define COMMAND_DATA_SIZE 1024

/** The camera's network settings (CommandGetNetwork, CommandSetNetwork). */
typedef struct NetworkParams {
  char ip[64];      /**< IPv4 address, dotted text */
  char mask[64];    /**< subnet mask */
  char gateway[64]; /**< default gateway */
  char dns1[64];    /**< first name server */
  char dns2[64];    /**< second name server */
  int32_t dhcp;     /**< 1: the camera takes its address by DHCP */
  int32_t port;     /**< the camera's HTTP port */
  int32_t reserved; /**< never read or sent; keeps the record at 332 bytes */
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

/** The camera's three accounts (CommandGetUsers, CommandSetUsers). */
typedef struct UserParams {
  char user1[64]; /**< first account's name */
  char pwd1[64];  /**< first account's password */
  char user2[64]; /**< second account's name */
  char pwd2[64];  /**< second account's password */
  char user3[64]; /**< third account's name */
  char pwd3[64];  /**< third account's password */
} UserParams;

TAVOLEN_STATIC_ASSERT(sizeof(UserParams) == 384, "UserParams size");
TAVOLEN_STATIC_ASSERT(offsetof(UserParams, user1) == 0, "UserParams.user1");
TAVOLEN_STATIC_ASSERT(offsetof(UserParams, pwd1) == 64, "UserParams.pwd1");
TAVOLEN_STATIC_ASSERT(offsetof(UserParams, user2) == 128, "UserParams.user2");
TAVOLEN_STATIC_ASSERT(offsetof(UserParams, pwd2) == 192, "UserParams.pwd2");
TAVOLEN_STATIC_ASSERT(offsetof(UserParams, user3) == 256, "UserParams.user3");
TAVOLEN_STATIC_ASSERT(offsetof(UserParams, pwd3) == 320, "UserParams.pwd3");

/** Dynamic DNS settings (CommandGetDdns, CommandSetDdns). Numbers are the
 * camera's own codes, passed as they are. */
typedef struct DdnsParams {
  int32_t service;    /**< which dynamic DNS service, 0 for none */
  char user[64];      /**< account at the service */
  char pwd[64];       /**< its password */
  char host[64];      /**< the host name kept up to date */
  char proxy_svr[64]; /**< proxy server */
  int32_t ddns_mode;  /**< the camera's DDNS mode */
  int32_t proxy_port; /**< proxy port */
} DdnsParams;

TAVOLEN_STATIC_ASSERT(sizeof(DdnsParams) == 268, "DdnsParams size");
TAVOLEN_STATIC_ASSERT(offsetof(DdnsParams, service) == 0, "DdnsParams.service");
TAVOLEN_STATIC_ASSERT(offsetof(DdnsParams, user) == 4, "DdnsParams.user");
TAVOLEN_STATIC_ASSERT(offsetof(DdnsParams, pwd) == 68, "DdnsParams.pwd");
TAVOLEN_STATIC_ASSERT(offsetof(DdnsParams, host) == 132, "DdnsParams.host");
TAVOLEN_STATIC_ASSERT(offsetof(DdnsParams, proxy_svr) == 196, "DdnsParams.proxy_svr");
TAVOLEN_STATIC_ASSERT(offsetof(DdnsParams, ddns_mode) == 260, "DdnsParams.ddns_mode");
TAVOLEN_STATIC_ASSERT(offsetof(DdnsParams, proxy_port) == 264, "DdnsParams.proxy_port");

/** FTP upload settings (CommandGetFtp, CommandSetFtp). */
typedef struct FtpParams {
  char svr[64];            /**< FTP server */
  char user[64];           /**< account on it */
  char pwd[64];            /**< its password */
  char dir[128];           /**< folder pictures go to */
  int32_t port;            /**< server port */
  int32_t mode;            /**< the camera's transfer mode code */
  int32_t upload_interval; /**< seconds between uploads */
} FtpParams;

TAVOLEN_STATIC_ASSERT(sizeof(FtpParams) == 332, "FtpParams size");
TAVOLEN_STATIC_ASSERT(offsetof(FtpParams, svr) == 0, "FtpParams.svr");
TAVOLEN_STATIC_ASSERT(offsetof(FtpParams, user) == 64, "FtpParams.user");
TAVOLEN_STATIC_ASSERT(offsetof(FtpParams, pwd) == 128, "FtpParams.pwd");
TAVOLEN_STATIC_ASSERT(offsetof(FtpParams, dir) == 192, "FtpParams.dir");
TAVOLEN_STATIC_ASSERT(offsetof(FtpParams, port) == 320, "FtpParams.port");
TAVOLEN_STATIC_ASSERT(offsetof(FtpParams, mode) == 324, "FtpParams.mode");
TAVOLEN_STATIC_ASSERT(offsetof(FtpParams, upload_interval) == 328, "FtpParams.upload_interval");

/** E-mail settings (CommandGetMail, CommandSetMail). */
typedef struct MailParams {
  char svr[64];       /**< SMTP server */
  char user[64];      /**< account on it */
  char pwd[64];       /**< its password */
  char sender[64];    /**< sender address */
  char receiver1[64]; /**< first receiver */
  char receiver2[64]; /**< second receiver */
  char receiver3[64]; /**< third receiver */
  char receiver4[64]; /**< fourth receiver */
  int32_t inet_ip;    /**< read only: the camera's own setting, never written */
  int32_t smtpport;   /**< SMTP port */
  int32_t ssl;        /**< the camera's encryption code, 0 for none */
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

/** LED and pan/tilt options (CommandGetMisc, CommandSetMisc). Numbers are the
 * camera's own codes, passed as they are. */
typedef struct MiscParams {
  int32_t led_mode;              /**< the indicator light's mode */
  int32_t ptz_center_onstart;    /**< read only: 1 when the camera centres itself at start */
  int32_t unused;                /**< never read or sent */
  int32_t ptz_run_times;         /**< how many rounds a patrol makes */
  int32_t ptz_patrol_rate;       /**< patrol speed */
  int32_t ptz_patrol_up_rate;    /**< speed upwards */
  int32_t ptz_patrol_down_rate;  /**< speed downwards */
  int32_t ptz_patrol_left_rate;  /**< speed to the left */
  int32_t ptz_patrol_right_rate; /**< speed to the right */
  int32_t ptz_dispreset;         /**< preset display option */
  int32_t ptz_preset;            /**< the preset the camera goes to at start */
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

/** Wi-Fi settings to write (CommandSetWifi; there is no read command). The
 * record fills the COMMAND_DATA_SIZE bytes of command data; wpa_psk runs to
 * its end. Numbers are the camera's own codes, passed as they are. */
typedef struct WifiSettings {
  int32_t enable;    /**< 1: use Wi-Fi */
  char ssid[132];    /**< network name */
  int32_t mode;      /**< network mode code */
  int32_t authtype;  /**< authentication code */
  int32_t encrypt;   /**< encryption code */
  int32_t keyformat; /**< format of the WEP keys */
  int32_t defkey;    /**< which WEP key is used */
  char key1[128];    /**< first WEP key */
  char key2[128];    /**< second WEP key */
  char key3[128];    /**< third WEP key */
  char key4[128];    /**< fourth WEP key */
  int32_t key1_bits; /**< length code of key1 */
  int32_t key2_bits; /**< length code of key2 */
  int32_t key3_bits; /**< length code of key3 */
  int32_t key4_bits; /**< length code of key4 */
  char wpa_psk[340]; /**< WPA passphrase */
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

/** One access point the camera sees (an entry of WifiScanList). */
typedef struct WifiScanEntry {
  char ssid[64];    /**< network name */
  char mac[64];     /**< the access point's MAC address */
  int32_t security; /**< the camera's security code */
  char dbm0[32];    /**< first signal figure, as the camera writes it */
  char dbm1[32];    /**< second signal figure */
  int32_t mode;     /**< network mode code */
} WifiScanEntry;

TAVOLEN_STATIC_ASSERT(sizeof(WifiScanEntry) == 200, "WifiScanEntry size");
TAVOLEN_STATIC_ASSERT(offsetof(WifiScanEntry, ssid) == 0, "WifiScanEntry.ssid");
TAVOLEN_STATIC_ASSERT(offsetof(WifiScanEntry, mac) == 64, "WifiScanEntry.mac");
TAVOLEN_STATIC_ASSERT(offsetof(WifiScanEntry, security) == 128, "WifiScanEntry.security");
TAVOLEN_STATIC_ASSERT(offsetof(WifiScanEntry, dbm0) == 132, "WifiScanEntry.dbm0");
TAVOLEN_STATIC_ASSERT(offsetof(WifiScanEntry, dbm1) == 164, "WifiScanEntry.dbm1");
TAVOLEN_STATIC_ASSERT(offsetof(WifiScanEntry, mode) == 196, "WifiScanEntry.mode");

/** Entries of a WifiScanList. */
#define WIFI_SCAN_MAX_ENTRIES 100

/** The camera's Wi-Fi scan (CommandGetWifiScan). Entries past the last access
 * point are zero; there is no count. */
typedef struct WifiScanList {
  WifiScanEntry entries[WIFI_SCAN_MAX_ENTRIES]; /**< the access points, then zeros */
} WifiScanList;

TAVOLEN_STATIC_ASSERT(sizeof(WifiScanList) == 20000, "WifiScanList size");
TAVOLEN_STATIC_ASSERT(offsetof(WifiScanList, entries) == 0, "WifiScanList.entries");

/* ---- LAN search ---- */

/* The reply datagram: "DH", a 16-bit command, then the SearchReply bytes. */
/** UDP port cameras listen on for the search. */
#define SEARCH_PORT 8600
/** Command of the search request ("DH", then this, little-endian). */
#define SEARCH_REQUEST_COMMAND 0x0101
/** Command of a camera's answer. */
#define SEARCH_REPLY_COMMAND 0x0801
/** Largest answer datagram read. */
#define SEARCH_DATAGRAM_MAX 1400
/** Bytes in front of the reply record: "DH" and the command. */
#define SEARCH_REPLY_HEADER_SIZE 4
/** Reply record: the camera's IPv4 address, dotted text, NUL-terminated. */
#define SEARCH_REPLY_IP_OFFSET 0
/** Reply record: the camera's HTTP port, unsigned 16-bit little-endian. */
#define SEARCH_REPLY_PORT_OFFSET 86
/** Reply record: the camera's name, UTF-8, NUL-terminated. */
#define SEARCH_REPLY_NAME_OFFSET 120
/** Bytes of the reply record that hold everything above. */
#define SEARCH_REPLY_COPY_SIZE 320

/** Receives each camera's answer to a search: the reply record (the bytes
 * after the 4-byte datagram head; read it at the SEARCH_REPLY_* offsets), on
 * the search's receive thread. The record is valid only during the call; the
 * result is ignored. A camera that answers twice is reported twice. */
typedef int32_t (*SearchCallback)(const uint8_t* reply, void* user);

/* ---- On-screen text ---- */

/** OsdItem::kind. */
enum OsdKind {
  OsdKindText = 0,     /**< the text as it is (any value but 1) */
  OsdKindTimeStamp = 1 /**< the text, then the picture's time as YYYY-MM-DD hh:mm:ss */
};
/** OsdItem::position; any other value places the text in OsdItem::rect. */
enum OsdPosition {
  OsdTopLeft = 10,     /**< top left corner */
  OsdTopRight = 11,    /**< top right corner */
  OsdBottomLeft = 12,  /**< bottom left corner */
  OsdBottomRight = 13, /**< bottom right corner */
  OsdCentre = 14       /**< centred */
};
/** Text slots of a player, indexes 0 to 15. */
#define OSD_SLOT_COUNT 16

/** A rectangle in picture pixels. */
typedef struct OsdRect {
  int32_t left;   /**< left edge */
  int32_t top;    /**< top edge */
  int32_t right;  /**< right edge */
  int32_t bottom; /**< bottom edge */
} OsdRect;

/** A text drawn over every picture of a player (x_player_setOsdString). */
typedef struct OsdItem {
  char faceName[24]; /**< font face name; fontconfig picks the closest installed face */
  int32_t fontWidth; /**< average character width in pixels, 0 for the face's own */
  int32_t fontHeight; /**< character height in pixels, 0 for a default height */
  uint8_t red;       /**< text colour: red */
  uint8_t green;     /**< text colour: green */
  uint8_t blue;      /**< text colour: blue */
  uint8_t unused;    /**< not used */
  OsdRect rect;      /**< where the text goes when position is none of OsdPosition */
  char text[128];    /**< the text (at most 127 bytes), or the prefix of a time stamp */
  int32_t kind;      /**< an OsdKind */
  int32_t position;  /**< an OsdPosition, or any other value for rect */
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

/** Where and how a player records AVI files (x_player_startlocalrecord). Files
 * go to recordPath/RecordFiles/YYYYMMDD/deviceFolder/; a file ends at its size
 * or time limit, or when the disk's free space falls below the reserve, and
 * the next one starts at once. */
typedef struct RecordStartParams {
  char recordPath[512];   /**< base folder of the recording tree */
  char deviceFolder[256]; /**< the camera's folder inside each day's folder */
  uint32_t fileLen;       /**< size limit of one file in MiB; below 100 means 100 */
  uint32_t timeLen;       /**< time limit of one file in minutes; below 5 means 5 */
  uint32_t reserved;      /**< free disk space to keep, in MiB; below 200 means 200 */
  uint32_t cover;         /**< non-zero: when space runs short, delete the oldest day's recordings */
} RecordStartParams;

TAVOLEN_STATIC_ASSERT(sizeof(RecordStartParams) == 784, "RecordStartParams size");
TAVOLEN_STATIC_ASSERT(offsetof(RecordStartParams, recordPath) == 0, "RecordStartParams.recordPath");
TAVOLEN_STATIC_ASSERT(offsetof(RecordStartParams, deviceFolder) == 512, "RecordStartParams.deviceFolder");
TAVOLEN_STATIC_ASSERT(offsetof(RecordStartParams, fileLen) == 768, "RecordStartParams.fileLen");
TAVOLEN_STATIC_ASSERT(offsetof(RecordStartParams, timeLen) == 772, "RecordStartParams.timeLen");
TAVOLEN_STATIC_ASSERT(offsetof(RecordStartParams, reserved) == 776, "RecordStartParams.reserved");
TAVOLEN_STATIC_ASSERT(offsetof(RecordStartParams, cover) == 780, "RecordStartParams.cover");

/* ---- Players, talk ---- */

/** Kind of player (x_player_createPlayInstance). */
enum PlayerKind {
  PlayerKindH264 = 0, /**< H.264 video (live view) */
  PlayerKindJpeg = 1  /**< JPEG pictures (SD-card playback of JPEG recordings) */
};

/** Receives each 256-byte ADPCM block of microphone sound (512 samples, 64 ms)
 * on the capture thread; the bytes are valid only during the call and the
 * result is ignored. A talking host passes each block to
 * device_net_work_sendTalkData. */
typedef int32_t (*TalkCallback)(const uint8_t* data, int32_t length, void* user);

TAVOLEN_END_DECLS

#endif
