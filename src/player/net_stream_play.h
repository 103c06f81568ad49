#pragma once
// The stream player interface. Operations keep this slot order; the base holds
// no data and every operation returns 0, so an operation a player kind does
// not provide reports failure. Results: 1 success, 0 failure.
//
// Threads: any caller thread may call any operation; inputNetFrame is usually
// called on the link's receive thread. A player never calls back into its
// caller.

#include <cstdint>

#include "tavolen/player.h"
#include "tavolen/types.h"

namespace tavolen {

class CNetStreamPlay {
 public:
  virtual ~CNetStreamPlay();
  virtual int32_t startPlay();
  virtual int32_t stopPlay();
  virtual int32_t setPlayWnd(void* window);
  virtual intptr_t getPlayWnd();
  virtual int32_t refreshLastPicture();
  virtual int32_t inputNetFrame(const uint8_t* frame, int32_t length);
  virtual int32_t getListFrameNum();
  virtual int32_t openSound();
  virtual int32_t closeSound();
  virtual int32_t setOsdString(int32_t index, const OsdItem* item);
  virtual int32_t removeOsdstring(int32_t index);
  virtual int32_t capturePicture(const char* fileName);
  virtual int32_t capturePictureBuf(uint8_t* buffer);
  virtual int32_t getPlayPicSize(int32_t* width, int32_t* height);
  virtual int32_t adjustViewArea(int32_t left, int32_t right, int32_t top, int32_t bottom);
  virtual int32_t setRenderEffect(int32_t effect);
  virtual int32_t renderActualProportion(int32_t on);
  virtual int32_t startlocalrecord(RecordStartParams params);
  virtual int32_t stoplocalrecord();
  virtual int32_t getrecordstatus();

  // Not one of the interface slots above: health counters for hosts.
  virtual int32_t getCounters(PlayerCounters* counters);
};

}  // namespace tavolen
