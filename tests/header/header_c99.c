/* Includes the umbrella header from C99 and reads a record through its fields. */
#include <stdio.h>
#include <string.h>

#include "tavolen/tavolen.h"

int main(void) {
  FrameHeader header;
  DeviceConnectParams params;
  memset(&header, 0, sizeof header);
  memset(&params, 0, sizeof params);
  header.magic = TAVOLEN_FRAME_MAGIC;
  header.frameType = FRAME_H264_KEY;
  params.port = 81;
  if (sizeof(OsdItem) != 188 || sizeof(RecordStartParams) != 784 || MAX_FRAME_SIZE != 524320) return 1;
  printf("header ok: %u %d\n", (unsigned)header.magic, (int)params.port);
  return 0;
}
