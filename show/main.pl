# main.pl: "derure", the show that comes with showplayer.
#
# The player opens the window, prepares the music (derure.mp3, paused) and
# calls main() below. main() is the whole show: it creates its effects, starts
# the music and then runs the frame loop until the music ends or Escape is
# pressed. Every frame it
#
#   1. pumps the events and looks at the keys (Escape, Left, Right),
#   2. reads the clock: the music position in milliseconds,
#   3. clears the frame, picks the scene for that moment and draws its effects,
#      back to front, each with SetParams (where it is, how big, how bright)
#      and Render (draw it now),
#   4. swaps the buffers to show the frame.
#
# Everything on the screen is a function of the music position, so a seek with
# Left or Right, or a slow frame, never puts picture and sound out of step.
#
# Some values come from sync tracks (the Sync package): columns of keys on
# rows of the music, 8 rows a beat. The build writes their files
# (sync_room-3Axoff.track and the like, beside this script); run the player
# with --watch --editor and a sync editor to change them while the show plays.
#
# Keys: Escape ends the show; Left and Right jump 5 seconds back and forward.
use strict;
use warnings;

# ---------------------------------------------------------------------------
# Timing. The music (made by tools/show/Song.cpp) is 120 beats per minute in
# 4/4 time: a beat every 500 ms, a bar every 2 s. 36 bars, then the last chord
# rings for 2 s.
use constant BPM      => 120;
use constant BEAT_MS  => 60_000 / BPM;
use constant BAR_MS   => 4 * BEAT_MS;
use constant SONG_MS  => 74_000;
use constant SEEK_MS  => 5_000;    # how far Left and Right jump
use constant STALL_MS => 1_000;    # a music clock frozen this long near the end: the music is over
use constant ROWS_PER_BEAT => 8;   # the sync tracks' grid

# The 2D view shared by Image: x from -1.33 to 1.33, y from -1 to 1.
use constant VIEW_W => 1.33;

# The scenes, in bars of the music: each cut falls on a bar line, where the
# music changes too.
my @SCENES = (
    # first bar, bar after the last, scene
    [  0,  4, \&intro_scene ],       # pads alone: the title over a plasma
    [  4, 12, \&staircase_scene ],   # kick and bass: a ball hops up the stairs
    [ 12, 20, \&room_scene ],        # snare and arpeggio: the 3DS scene
    [ 20, 24, \&card_scene ],        # the break: a card opens on an ink stain
    [ 24, 34, \&finale_scene ],      # the drop: everything, cut every 2 bars
    [ 34, 37, \&outro_scene ],       # the last chord: credits, fade to black
);

# ---------------------------------------------------------------------------
# Small helpers for timing and easing.

sub clamp01 { my $v = shift; return $v < 0 ? 0 : $v > 1 ? 1 : $v }

# 0 before $from, 1 after $to, a straight line in between (times in ms).
sub ramp { my ($t, $from, $to) = @_; return clamp01(($t - $from) / ($to - $from)) }

# Like ramp, but starting and ending gently.
sub ease { my $u = ramp(@_); return $u * $u * (3 - 2 * $u) }

# Where we are inside the current beat: 0 on the beat, nearly 1 just before the next.
sub beat_phase { my $t = shift; return ($t % BEAT_MS) / BEAT_MS }

# 1 on every beat, dying away quickly: for things that jump with the kick drum.
sub beat_pulse { my $t = shift; return exp(-($t % BEAT_MS) / 90) }

# The same, once a bar.
sub bar_pulse { my $t = shift; return exp(-($t % BAR_MS) / 200) }

# ---------------------------------------------------------------------------
# The clock. The music position is the show's time: it is what the audience
# hears. The player keeps it going at the wall clock's pace when the sound
# device fails, and holds it while the author pauses the music (F2 or a sync
# editor), so the show simply follows it.

my %clock = (
    last_pos => -1,   # the last music position read
    moved_at => 0,    # wall-clock time when it last changed
);

sub clock_start {
    OpenGL::glStartSound();
    $clock{moved_at} = OpenGL::glGetTime();
}

sub clock_now {
    my $wall = OpenGL::glGetTime();
    my $pos  = OpenGL::glGetSoundPos();
    if ($pos != $clock{last_pos}) {
        $clock{last_pos} = $pos;
        $clock{moved_at} = $wall;
    } elsif ($wall - $clock{moved_at} > STALL_MS && $pos >= SONG_MS - 2 * STALL_MS) {
        # The music has stopped at its end: the show is over.
        return SONG_MS;
    }
    return $pos;
}

sub clock_seek {
    my $to = shift;
    $to = 0 if $to < 0;
    OpenGL::glSetSoundPos($to);
}

# ---------------------------------------------------------------------------
# Keys. glLeftPressed and friends say whether a key is down right now; a seek
# must happen once per press, not on every frame while the key is held, so we
# remember the previous state and act on the change from up to down.

my %was_down;

sub key_went_down {
    my ($name, $down) = @_;
    my $went_down = $down && !$was_down{$name};
    $was_down{$name} = $down;
    return $went_down;
}

# ---------------------------------------------------------------------------
# The effects. Objects are created once, before the music starts, and reused
# for the whole show: an object may be drawn several times per frame with
# different parameters. Pictures are loaded by the first SetParams that names
# them; later calls with the same name reuse the loaded picture.

my ($plasma, $picture, $sprite, $veil, $stairs, $card, $room);
my %track;    # sync tracks by name

sub create_tracks {
    Sync::Tempo(BPM, ROWS_PER_BEAT);
    $track{$_} = Sync::Track($_) for qw(room:xoff room:yoff room:flash);
}

sub create_effects {
    $plasma  = Image->new;      # a picture computed in Perl every frame
    $picture = Image->new;      # the title and the credits, from files
    $sprite  = Image->new;      # the ball picture, drawn many times
    $veil    = Image->new;      # a full-screen white square for flashes and fades
    $stairs  = BalTrap->new;    # the ball and the staircase
    $card    = InkStain->new;   # the card and the ink stain
    $room    = Model->new;      # the 3DS scene
}

# ---------------------------------------------------------------------------
# The plasma: a 64 x 64 picture made of four sine waves, computed from the
# time on every frame and handed to Image as raw RGBA bytes (4 bytes per
# pixel, rows from the top). Small pictures keep this cheap; Image stretches
# it smoothly over the screen.

use constant PLASMA_SIZE => 64;
my (@SINE, @PALETTE, @DISTANCE);

sub prepare_plasma {
    # A sine table with 256 steps per turn, values 0..63, so that four of them
    # add up to an index into the 256-colour palette.
    @SINE = map { int(31.5 + 31.5 * sin($_ * 2 * 3.14159265 / 256)) } 0 .. 255;
    # The palette: each entry is already the 4-byte RGBA string of one pixel.
    @PALETTE = map {
        my $a = $_ * 2 * 3.14159265 / 256;
        pack 'C4', 128 + 127 * sin($a), 128 + 127 * sin($a + 2.1), 128 + 127 * sin($a + 4.2), 255;
    } 0 .. 255;
    # Distance of each pixel from a point off the top-left corner, for rings.
    for my $y (0 .. PLASMA_SIZE - 1) {
        $DISTANCE[$y] = [ map { int(7 * sqrt(($_ + 20)**2 + ($y + 10)**2)) } 0 .. PLASMA_SIZE - 1 ];
    }
}

sub plasma_pixels {
    my $t = shift;
    my $n = PLASMA_SIZE;
    # Each wave moves at its own speed; the palette turns with the beat.
    my ($o1, $o2, $o3, $o4) = (int($t / 11), int($t / 17), int($t / 23), int($t / 7));
    my $shift = int($t / 20) + int(48 * beat_pulse($t));
    my @by_x  = map { $SINE[ ($_ * 9 + $o1) & 255 ] } 0 .. $n - 1;
    my @by_y  = map { $SINE[ ($_ * 7 - $o2) & 255 ] } 0 .. $n - 1;
    my @by_xy = map { $SINE[ ($_ * 4 + $o3) & 255 ] } 0 .. 2 * $n - 2;
    my $pixels = '';
    for my $y (0 .. $n - 1) {
        my $row_base = $by_y[$y] + $shift;
        my $ring     = $DISTANCE[$y];
        $pixels .= join '', map {
            $PALETTE[ ($by_x[$_] + $row_base + $by_xy[ $_ + $y ] + $SINE[ ($ring->[$_] - $o4) & 255 ]) & 255 ]
        } 0 .. $n - 1;
    }
    return $pixels;
}

# Draws the plasma over the whole screen, dimmed by $bright (0..1) and tinted.
sub draw_plasma {
    my ($t, $bright, $r, $g, $b) = @_;
    return if $bright <= 0;
    $plasma->SetParams({
        imagedata => plasma_pixels($t),     # no "image" name: a new picture every call
        width     => PLASMA_SIZE,
        height    => PLASMA_SIZE,
        x         => 0, y => 0, alignh => 1, alignv => 1,    # centred
        # A square picture is 1 unit high at size 1; stretch it a little past
        # the 2.66 x 2 view so that its soft edges stay off the screen.
        wsize     => 2 * VIEW_W + 0.1, hsize => 2.1,
        rot       => 0,
        alpha     => $bright,
        r         => $r, g => $g, b => $b,
    });
    $plasma->Render($t);
}

# A full-screen flash (white) or veil (black) of the given opacity. The pixels
# come from Perl too, but with the name "white": Image keeps the texture it
# made the first time and does not rebuild it on every call.
my $WHITE = "\xff" x (4 * 4 * 4);

sub draw_veil {
    my ($t, $alpha, $brightness) = @_;
    return if $alpha <= 0;
    $veil->SetParams({
        image => 'white', imagedata => $WHITE, width => 4, height => 4,
        x => 0, y => 0, alignh => 1, alignv => 1, size => 3,    # well past the edges
        rot => 0, alpha => $alpha, r => $brightness, g => $brightness, b => $brightness,
    });
    $veil->Render($t);
}

# A picture from a file, centred at (x, y), $size units wide (pictures wider
# than high are 1 unit wide at size 1).
sub draw_picture {
    my ($t, $file, $x, $y, $size, $alpha, $rot) = @_;
    return if $alpha <= 0;
    $picture->SetParams({
        image => $file, x => $x, y => $y, alignh => 1, alignv => 1,
        size => $size, rot => $rot || 0, alpha => $alpha, r => 1, g => 1, b => 1,
    });
    $picture->Render($t);
}

# ---------------------------------------------------------------------------
# The ball on the staircase. BalTrap's stairs have five treads; the ball hops
# from one to the next on every beat, up and back down again.

my @TREAD_X   = (-0.8, -0.4, 0.0, 0.4, 0.8);       # centres of the treads
my @TREAD_TOP = (-0.48, -0.29, -0.10, 0.09, 0.28);  # their upper edges
use constant BALL_RADIUS => 0.1;                     # half the square, at zoom 1

# Which tread the ball stands on after $hops hops: 0 1 2 3 4 3 2 1 0 1 ...
sub tread_after { my $hops = shift; my $k = $hops % 8; return $k <= 4 ? $k : 8 - $k }

sub draw_staircase {
    my ($t, $hop_ms, $stairs_alpha) = @_;
    my $hops  = int($t / $hop_ms);
    my $u     = ($t % $hop_ms) / $hop_ms;            # 0 at take-off, 1 on landing
    my ($from, $to) = (tread_after($hops), tread_after($hops + 1));
    my $x     = $TREAD_X[$from] + ($TREAD_X[$to] - $TREAD_X[$from]) * $u;
    my $floor = $TREAD_TOP[$from] + ($TREAD_TOP[$to] - $TREAD_TOP[$from]) * $u;
    my $arc   = 0.35 * 4 * $u * (1 - $u);             # a parabola, highest half-way
    $stairs->SetParams({
        bal        => 'images/ball.png',
        x          => $x,
        y          => $floor + BALL_RADIUS + $arc,
        zoom       => 1,
        turn       => 25 * sin(2 * 3.14159265 * $u),  # a wobble about the vertical axis
        trap_alpha => $stairs_alpha,
    });
    $stairs->Render($t);
}

# A ring of balls, all drawn with the one Image object.
sub draw_ball_ring {
    my ($t, $count, $radius, $alpha) = @_;
    my $spin = $t / 1000 * 60;                       # degrees: a turn every 6 s
    for my $i (0 .. $count - 1) {
        my $angle = ($spin + 360 * $i / $count) * 3.14159265 / 180;
        my $size  = 0.28 + 0.1 * beat_pulse($t);
        $sprite->SetParams({
            image => 'images/ball.png',
            x => $radius * cos($angle), y => $radius * sin($angle), alignh => 1, alignv => 1,
            # The ball picture is painted narrow for BalTrap's stretched square;
            # here it is widened back to round.
            wsize => $size / 0.75, hsize => $size,
            rot => 0, alpha => $alpha, r => 1, g => 1, b => 1,
        });
        $sprite->Render($t);
    }
}

# ---------------------------------------------------------------------------
# The card: its front page opens by openangle degrees and shows the ink stain.

sub draw_card {
    my ($t, $angle, $stain) = @_;
    $card->SetParams({ frontimage => 'images/card.png', openangle => $angle, stainsize => $stain });
    $card->Render($t);
}

# ---------------------------------------------------------------------------
# The 3DS scene: its camera flight and lights are keyframed in the file;
# Render plays it at the time it is given.

# The drift sideways and up and down comes from the sync tracks room:xoff and
# room:yoff, at show time $t.
sub draw_room {
    my ($t, $scene_ms, $lift) = @_;
    $room->SetParams({ fname => 'models/room.3ds', fps => 25, xoff => $track{'room:xoff'}->Value($t),
                       yoff => $track{'room:yoff'}->Value($t), zoff => $lift });
    $room->Render($scene_ms);
}

# ---------------------------------------------------------------------------
# The scenes. Each gets the show time $t and the time since its first bar.

sub intro_scene {
    my ($t, $local) = @_;
    draw_plasma($t, 0.8 * ease($t, 0, 4000), 0.55, 0.45, 1.0);
    my $alpha = ease($t, 1000, 3000) * (1 - ease($t, 6500, 8000));
    my $size  = 2.0 + 0.08 * ($t >= 4000 ? beat_pulse($t - BEAT_MS / 2) : 0);   # hats on the off-beat
    draw_picture($t, 'images/title.png', 0, 0.1 + 0.04 * sin($t / 700), $size, $alpha);
}

sub staircase_scene {
    my ($t, $local) = @_;
    draw_plasma($t, 0.35 + 0.15 * beat_pulse($t), 1.0, 0.55, 0.35);
    draw_staircase($t, BEAT_MS, ease($local, 0, BAR_MS) * (0.55 + 0.45 * beat_pulse($t)));
}

sub room_scene {
    my ($t, $local) = @_;
    draw_room($t, $local, 0);
    draw_veil($t, $track{'room:flash'}->Value($t) * bar_pulse($t), 1);   # a flash on every bar line
}

sub card_scene {
    my ($t, $local) = @_;
    draw_plasma($t, 0.25, 0.4, 0.5, 1.0);
    # Closed for a bar, knocking on each beat; then the page swings half open,
    # and for the last bar all the way.
    my $angle = 60 * ease($local, BAR_MS, BAR_MS + 2000) + 90 * ease($local, 3 * BAR_MS, 3 * BAR_MS + 1500)
        + 8 * beat_pulse($t);
    my $stain = 0.25 + 0.55 * ramp($local, BAR_MS + 500, 4 * BAR_MS - 500) + 0.12 * beat_pulse($t);
    draw_card($t, $angle, $stain);
}

# The drop: five two-bar cuts, each on a bar line.
sub finale_scene {
    my ($t, $local) = @_;
    my $cut = int($local / (2 * BAR_MS));
    if ($cut == 0) {
        draw_room($t, $local + 8000, 0.6 * beat_pulse($t));
        draw_veil($t, 0.35 * beat_pulse($t), 1);
    } elsif ($cut == 1) {
        draw_plasma($t, 0.6, 1, 1, 1);
        draw_ball_ring($t, 8, 0.55 + 0.1 * beat_pulse($t), 1);
        draw_staircase($t, BEAT_MS / 2, 0.8);
    } elsif ($cut == 2) {
        draw_room($t, $local + 16000, 0.6 * beat_pulse($t));
        draw_picture($t, 'images/title.png', 0, 0.75, 1.2, 0.9);
    } elsif ($cut == 3) {
        draw_plasma($t, 0.3, 1, 0.4, 0.6);
        draw_card($t, 90 + 70 * sin($local / BEAT_MS * 3.14159265 / 2), 0.7 + 0.2 * beat_pulse($t));
    } else {
        draw_plasma($t, 0.5, 1, 1, 1);
        draw_room($t, $local, 0.6 * beat_pulse($t));
        draw_ball_ring($t, 12, 0.9, 0.8);
        draw_staircase($t, BEAT_MS, 1);
    }
}

sub outro_scene {
    my ($t, $local) = @_;
    my $end = 2 * BAR_MS;    # the final hit, 4 s into the outro
    draw_plasma($t, 0.5 * (1 - ease($local, 0, $end)), 0.5, 0.5, 1.0);
    draw_picture($t, 'images/credits.png', 0, 0.1, 2.2, ease($local, 500, 2500));
    return if $local < $end;
    draw_veil($t, 0.9 * exp(-($local - $end) / 150), 1);    # the flash
    draw_veil($t, ease($local, $end + 200, $end + 1800), 0); # then to black
}

sub draw_frame {
    my $t   = shift;
    my $bar = int($t / BAR_MS);
    for my $scene (@SCENES) {
        my ($first, $after, $draw) = @$scene;
        next unless $bar >= $first && $bar < $after;
        $draw->($t, $t - $first * BAR_MS);
        return;
    }
}

# ---------------------------------------------------------------------------
# The show.

sub main {
    my ($width, $height) = @_;

    # Each package must be booted before its subs exist.
    OpenGL::boot_OpenGL();
    Image::boot_Image();
    Model::boot_Model();
    BalTrap::boot_BalTrap();
    InkStain::boot_InkStain();
    Sync::boot_Sync();

    create_effects();
    create_tracks();
    prepare_plasma();

    # Draw every scene once, unseen, before the music starts: the pictures and
    # the 3DS scene are loaded now rather than in the middle of the show.
    for my $scene (@SCENES) {
        for my $offset (0, 2, 4, 6, 8) {
            draw_frame(($scene->[0] + $offset) * BAR_MS) if $scene->[0] + $offset < $scene->[1];
        }
    }
    OpenGL::glClear();

    $| = 1;    # print at once, not when the buffer fills
    printf "derure: %d s at %d BPM in a %dx%d window; Left/Right jump 5 s, Escape ends\n",
        SONG_MS / 1000, BPM, $width, $height;

    clock_start();
    while (1) {
        OpenGL::glPumpEvents();
        return 0 if OpenGL::glEscPressed();

        my $t = clock_now();
        clock_seek($t - SEEK_MS) if key_went_down(left  => OpenGL::glLeftPressed());
        clock_seek($t + SEEK_MS) if key_went_down(right => OpenGL::glRightPressed());
        return 0 if $t >= SONG_MS;    # the music is over

        OpenGL::glClear();
        draw_frame($t);
        OpenGL::SwapBuffers();
    }
}
