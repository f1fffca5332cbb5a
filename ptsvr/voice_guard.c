/* What the bundled voice's C libraries need from their host: allocation that fails into the
 * host's guarded call instead of being written through, a fatal error that does not exit(), and
 * hts_engine's audio output, which hands the samples to the host as they are made.
 * See voice_guard.h. */
#include "voice_guard.h"

#include <setjmp.h>
#include <stdlib.h>
#include <string.h>

#include "HTS_engine.h" /* HTS_Audio */

/* The innermost guarded call of this thread. */
static __thread jmp_buf *guard_env;

#ifdef KOE_VOICE_FAULTS
static __thread long allocations_left = -1;

void koe_voice_fail_allocation_after(long n) { allocations_left = n; }

static int injected_failure(void) {
  if (allocations_left < 0) return 0;
  if (allocations_left == 0) return 1;
  --allocations_left;
  return 0;
}
#else
static int injected_failure(void) { return 0; }
#endif

void koe_voice_fail(void) {
  if (guard_env) longjmp(*guard_env, 1);
  abort(); /* outside a guarded call nothing of the libraries runs */
}

int koe_voice_guarded(void (*fn)(void *), void *context) {
  jmp_buf env;
  jmp_buf *outer = guard_env;
  volatile int failed = 0;
  guard_env = &env;
  if (setjmp(env) == 0)
    fn(context);
  else
    failed = 1;
  guard_env = outer;
  return failed ? 0 : 1;
}

void *koe_voice_malloc(size_t n) {
  void *p = injected_failure() ? NULL : malloc(n);
  if (!p && n) koe_voice_fail();
  return p;
}

void *koe_voice_calloc(size_t count, size_t size) {
  void *p = injected_failure() ? NULL : calloc(count, size);
  if (!p && count && size) koe_voice_fail();
  return p;
}

void *koe_voice_realloc(void *old, size_t n) {
  void *p = injected_failure() ? NULL : realloc(old, n);
  if (!p && n) koe_voice_fail();
  return p;
}

char *koe_voice_strdup(const char *s) {
  const size_t n = strlen(s) + 1;
  char *p = (char *)koe_voice_malloc(n);
  memcpy(p, s, n);
  return p;
}

/* hts_engine's audio output. HTS_Engine_initialize and HTS_Engine_clear call these on the engine's
 * HTS_Audio; the host points audio_interface at its koe_voice_sink before a synthesis. */
void HTS_Audio_initialize(HTS_Audio *audio) {
  audio->sampling_frequency = 0;
  audio->max_buff_size = 0;
  audio->buff = NULL;
  audio->buff_size = 0;
  audio->audio_interface = NULL;
}

void HTS_Audio_set_parameter(HTS_Audio *audio, size_t sampling_frequency, size_t max_buff_size) {
  if (audio->max_buff_size != max_buff_size) {
    free(audio->buff);
    audio->buff = max_buff_size ? (short *)koe_voice_malloc(max_buff_size * sizeof(short)) : NULL;
    audio->max_buff_size = audio->buff ? max_buff_size : 0;
  }
  audio->sampling_frequency = sampling_frequency;
  audio->buff_size = 0;
}

void HTS_Audio_flush(HTS_Audio *audio) {
  struct koe_voice_sink *sink = (struct koe_voice_sink *)audio->audio_interface;
  if (audio->buff_size > 0 && sink && sink->write) sink->write(sink->context, audio->buff, audio->buff_size);
  audio->buff_size = 0;
}

void HTS_Audio_write(HTS_Audio *audio, short data) {
  if (!audio->buff) return;
  audio->buff[audio->buff_size++] = data;
  if (audio->buff_size >= audio->max_buff_size) HTS_Audio_flush(audio);
}

void HTS_Audio_clear(HTS_Audio *audio) {
  free(audio->buff);
  HTS_Audio_initialize(audio);
}
