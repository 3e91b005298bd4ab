// The stacking engine's front door: many pictures of one scene made into one.
//
// A picture goes through the pieces in this order:
//   registration (image_registration.h: its shift against the reference, by phase correlation)
//   → warp (image_warp.h: moved by that shift onto the reference's grid)
//   → placer (stack_placer.h: the two for one picture, and whether it is used or left out,
//     recorded in a CStackFile; one placer a worker thread)
//   → store (frame_store.h: the median and the sigma clip keep every placed picture, in memory
//     up to a budget, then in a temporary file; the means keep sums instead)
//   → combine (image_stacker.h with stack_methods.h: CImageStacker takes the placed pictures in
//     order and combines them by the chosen method into the result)
//   → report (stack_report.h: every picture's record as CSV).
// stack_options.h holds what the caller chooses; image_view.h how the engine sees a picture.
//
// Beside it, the still engine (still_engine.h, its own front door) makes one sharper picture,
// on a grid up to three times finer, out of a sequence of frames read through IFrameSource; it
// reuses the registration for its global and local alignment.
#pragma once

#include "stack/image_registration.h"
#include "stack/image_stacker.h"
#include "stack/image_view.h"
#include "stack/image_warp.h"
#include "stack/stack_file.h"
#include "stack/stack_methods.h"
#include "stack/stack_options.h"
#include "stack/stack_placer.h"
#include "stack/stack_report.h"
#include "stack/still_engine.h"
