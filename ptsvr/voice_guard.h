/* The bundled voice's C libraries (Open JTalk's analysis, hts_engine) inside a guard.
 *
 * They are built to allocate through koe_voice_malloc, koe_voice_calloc, koe_voice_realloc and
 * koe_voice_strdup (cmake/voice/CMakeLists.txt), and hts_engine calls koe_voice_fail (its fatal
 * handler, HTS_set_fatal_handler) instead of exit() on a fatal error. Both end the innermost
 * koe_voice_guarded call of the thread at once: a lack of memory fails that call instead of ending
 * the process. Only C frames may lie between the guarded call and the failure (it ends them with
 * longjmp): MeCab, which is C++, is never called inside a guard. What the libraries held when the
 * call failed may be lost; the caller clears their state before it uses them again. */
#ifndef KOE_VOICE_GUARD_H
#define KOE_VOICE_GUARD_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Runs fn(context); 1 when it returned, 0 when an allocation or a fatal error ended it. */
int koe_voice_guarded(void (*fn)(void *), void *context);
/* Ends the innermost guarded call of the thread (outside one: abort()). */
void koe_voice_fail(void);

void *koe_voice_malloc(size_t n);
void *koe_voice_calloc(size_t count, size_t size);
void *koe_voice_realloc(void *old, size_t n);
char *koe_voice_strdup(const char *s);

/* Where hts_engine's audio output goes: the engine's HTS_Audio.audio_interface points at one
 * while it synthesizes. */
struct koe_voice_sink {
  void (*write)(void *context, const short *samples, size_t count);
  void *context;
};

#ifdef KOE_VOICE_FAULTS
/* Tests: the allocation after the next n of this thread fails (n < 0: none fails). */
void koe_voice_fail_allocation_after(long n);
#endif

#ifdef __cplusplus
}
#endif

#endif
