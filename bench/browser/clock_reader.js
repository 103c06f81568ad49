// Reads the clock that the substitute camera burns into its test pattern
// (a 5x7 font, "HH:MM:SS.mmm #N" on a dark band at the top left, each font
// pixel `scale` picture pixels wide) back out of a canvas that shows the
// picture scaled. Loaded into the benchmark's pages.
(function (global) {
  'use strict';
  const FONT = {
    '0': [0x0e, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0e], '1': [0x04, 0x0c, 0x04, 0x04, 0x04, 0x04, 0x0e],
    '2': [0x0e, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1f], '3': [0x1f, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0e],
    '4': [0x02, 0x06, 0x0a, 0x12, 0x1f, 0x02, 0x02], '5': [0x1f, 0x10, 0x1e, 0x01, 0x01, 0x11, 0x0e],
    '6': [0x06, 0x08, 0x10, 0x1e, 0x11, 0x11, 0x0e], '7': [0x1f, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08],
    '8': [0x0e, 0x11, 0x11, 0x0e, 0x11, 0x11, 0x0e], '9': [0x0e, 0x11, 0x11, 0x0f, 0x01, 0x02, 0x0c],
    ':': [0x00, 0x0c, 0x0c, 0x00, 0x0c, 0x0c, 0x00], '.': [0x00, 0x00, 0x00, 0x00, 0x00, 0x0c, 0x0c],
  };
  const ORDER = '00:00:00.000';

  // place: {x, y, sx, sy} maps picture pixel (px, py) to canvas (x + px*sx,
  // y + py*sy); scale is the font pixel size in picture pixels. Returns the
  // clock as milliseconds of the local day, or null when it cannot be read.
  function readClock(ctx, place, scale) {
    const width = Math.ceil((12 * 6 + 1) * scale * place.sx) + 2;
    const height = Math.ceil(8 * scale * place.sy) + 2;
    const x0 = Math.floor(place.x), y0 = Math.floor(place.y);
    const data = ctx.getImageData(x0, y0, width, height).data;
    const lit = (px, py) => {
      const cx = Math.round(place.x + px * place.sx) - x0;
      const cy = Math.round(place.y + py * place.sy) - y0;
      if (cx < 0 || cy < 0 || cx >= width || cy >= height) return false;
      const i = (cy * width + cx) * 4;
      return data[i] + data[i + 1] + data[i + 2] > 3 * 128;
    };
    let text = '';
    for (let i = 0; i < 12; i++) {
      let best = null, bestMiss = 99;
      const candidates = /[:.]/.test(ORDER[i]) ? [ORDER[i]] : '0123456789'.split('');
      for (const c of candidates) {
        let miss = 0;
        for (let gy = 0; gy < 7; gy++)
          for (let gx = 0; gx < 5; gx++) {
            const on = (FONT[c][gy] & (0x10 >> gx)) !== 0;
            if (on !== lit((1 + i * 6 + gx + 0.5) * scale, (1 + gy + 0.5) * scale)) miss++;
          }
        if (miss < bestMiss) { bestMiss = miss; best = c; }
      }
      if (bestMiss > 4) return null;
      text += best;
    }
    const m = text.match(/^(\d\d):(\d\d):(\d\d)\.(\d\d\d)$/);
    if (!m) return null;
    return ((+m[1] * 60 + +m[2]) * 60 + +m[3]) * 1000 + +m[4];
  }

  function nowOfDay() {
    const d = new Date();
    return ((d.getHours() * 60 + d.getMinutes()) * 60 + d.getSeconds()) * 1000 + d.getMilliseconds();
  }

  // Milliseconds from the clock in the picture to now, across midnight.
  function latencyOf(clockMs) {
    return (nowOfDay() - clockMs + 86400000) % 86400000;
  }

  global.clockReader = { readClock, latencyOf };
})(window);
