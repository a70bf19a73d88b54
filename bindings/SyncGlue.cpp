// The Sync package: sync tracks keyed to the music's rows. Sync::Tempo sets
// how music time maps to rows, Sync::Track gives a track object by name,
// $track->Value(msec) its value at a time, Sync::Row(msec) the row itself.
// The tracks live in the show context, beyond any one run of the script.
#include "bindings/Boot.h"
#include "bindings/Glue.h"

#include "sync/TrackFile.h"

#include <cmath>
#include <string>

namespace {

using glue::CheckArgCount;
using glue::Enter;

constexpr const char* kTrackClass = "Sync::Track";
// How much of a bad name an error message repeats.
constexpr int kNameShown = 200;

// Returns one number as the sub's only result.
#define SYNC_RETURN_NUMBER(value)       \
    STMT_START                          \
    {                                   \
        dXSTARG;                        \
        XSprePUSH;                      \
        PUSHn(static_cast<NV>(value));  \
        XSRETURN(1);                    \
    }                                   \
    STMT_END

// Whatever the editor sent since the last call is in place before a value is
// read: a key that just arrived is seen at once.
inline void TakeEditorNews(show::Context& context)
{
    if (UNLIKELY(context.tracks.Pending()))
        context.ServeSync();
}

void XS_Tempo(pTHX_ CV* cv)
{
    dXSARGS;
    show::Context& context = Enter(cv);
    CheckArgCount(aTHX_ cv, items, 2, "bpm, rows_per_beat");
    const double bpm = SvNV(ST(0));
    const double rowsPerBeat = SvNV(ST(1));
    if (!(std::isfinite(bpm) && bpm > 0.0) || !(std::isfinite(rowsPerBeat) && rowsPerBeat > 0.0))
        croak("Sync::Tempo: bpm and rows_per_beat must be finite numbers above 0 (got %" NVgf " and %" NVgf ")",
              static_cast<NV>(bpm), static_cast<NV>(rowsPerBeat));
    context.tracks.tempo.bpm = bpm;
    context.tracks.tempo.rowsPerBeat = rowsPerBeat;
    GLUE_RETURN_INT(1);
}

// The track is made (and its file read) on the first request of its name.
void XS_Track(pTHX_ CV* cv)
{
    dXSARGS;
    show::Context& context = Enter(cv);
    CheckArgCount(aTHX_ cv, items, 1, "name");
    STRLEN length = 0;
    const char* bytes = SvPV(ST(0), length);
    if (length == 0)
        croak("Sync::Track: the track name is empty");
    synctrack::Track* track = nullptr;
    bool outside = false;
    glue::Guard(aTHX_ cv, [&] {
        const std::string name(bytes, length);
        outside = !synctrack::StaysInside(name);
        if (!outside)
            track = context.tracks.Get(name);
    });
    if (outside)
        croak("Sync::Track: the file of track \"%.*s\" would lie outside the show folder",
              static_cast<int>(length < static_cast<STRLEN>(kNameShown) ? length : kNameShown), bytes);
    // The handle holds the track's number, which stays for the player's life.
    SV* handle = sv_newmortal();
    sv_setref_iv(handle, kTrackClass, static_cast<IV>(context.tracks.Number(track)));
    ST(0) = handle;
    XSRETURN(1);
}

// THIS: a track the Sync package made, whatever class its handle is blessed
// into.
synctrack::Track* ThisTrack(pTHX_ const show::Context& context, SV* handle)
{
    SvGETMAGIC(handle);
    if (SvROK(handle)) {
        SV* referent = SvRV(handle);
        if (SvOBJECT(referent) && SvTYPE(referent) <= SVt_PVMG) {
            const IV number = SvIOK(referent) ? SvIVX(referent) : SvIV(referent);
            if (number >= 0)
                if (synctrack::Track* track = context.tracks.At(static_cast<std::size_t>(number)))
                    return track;
        }
    }
    croak("Sync::Track::Value: THIS is not a Sync::Track object");
}

void XS_Value(pTHX_ CV* cv)
{
    dXSARGS;
    show::Context& context = Enter(cv);
    CheckArgCount(aTHX_ cv, items, 2, "THIS, msec");
    const synctrack::Track* track = ThisTrack(aTHX_ context, ST(0));
    const double ms = SvNV(ST(1));
    TakeEditorNews(context);
    SYNC_RETURN_NUMBER(track->Value(context.tracks.tempo.Row(ms)));
}

void XS_Row(pTHX_ CV* cv)
{
    dXSARGS;
    show::Context& context = Enter(cv);
    CheckArgCount(aTHX_ cv, items, 1, "msec");
    SYNC_RETURN_NUMBER(context.tracks.tempo.Row(SvNV(ST(0))));
}

}  // namespace

// A new script starts with the default tempo and reads the track files it
// asks for again; the tracks and an editor's keys stay.
void BootSync(pTHX_ CV* cv)
{
    dXSARGS;
    PERL_UNUSED_VAR(items);
    PERL_UNUSED_VAR(cv);
    static const glue::Sub subs[] = {
        {"Sync::Tempo", XS_Tempo},
        {"Sync::Track", XS_Track},
        {"Sync::Track::Value", XS_Value},
        {"Sync::Row", XS_Row},
    };
    show::Context& context = glue::RegisterSubs(aTHX_ subs, sizeof subs / sizeof subs[0], "SyncGlue");
    context.tracks.BeginRun();
    XSRETURN_YES;
}
