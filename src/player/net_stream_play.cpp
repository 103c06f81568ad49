#include "player/net_stream_play.h"

namespace tavolen {

CNetStreamPlay::~CNetStreamPlay() = default;
int32_t CNetStreamPlay::startPlay() { return 0; }
int32_t CNetStreamPlay::stopPlay() { return 0; }
int32_t CNetStreamPlay::setPlayWnd(void*) { return 0; }
intptr_t CNetStreamPlay::getPlayWnd() { return 0; }
int32_t CNetStreamPlay::refreshLastPicture() { return 0; }
int32_t CNetStreamPlay::inputNetFrame(const uint8_t*, int32_t) { return 0; }
int32_t CNetStreamPlay::getListFrameNum() { return 0; }
int32_t CNetStreamPlay::openSound() { return 0; }
int32_t CNetStreamPlay::closeSound() { return 0; }
int32_t CNetStreamPlay::setOsdString(int32_t, const OsdItem*) { return 0; }
int32_t CNetStreamPlay::removeOsdstring(int32_t) { return 0; }
int32_t CNetStreamPlay::capturePicture(const char*) { return 0; }
int32_t CNetStreamPlay::capturePictureBuf(uint8_t*) { return 0; }
int32_t CNetStreamPlay::getPlayPicSize(int32_t*, int32_t*) { return 0; }
int32_t CNetStreamPlay::adjustViewArea(int32_t, int32_t, int32_t, int32_t) { return 0; }
int32_t CNetStreamPlay::setRenderEffect(int32_t) { return 0; }
int32_t CNetStreamPlay::renderActualProportion(int32_t) { return 0; }
int32_t CNetStreamPlay::startlocalrecord(RecordStartParams) { return 0; }
int32_t CNetStreamPlay::stoplocalrecord() { return 0; }
int32_t CNetStreamPlay::getrecordstatus() { return 0; }
int32_t CNetStreamPlay::getCounters(PlayerCounters*) { return 0; }

}  // namespace tavolen
