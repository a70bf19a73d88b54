# Model benchmark, show side: plays scene.3ds (made by run-model.sh) frame
# after frame and prints its frame rate, like bench/model/ModelPlain.cpp.
use strict;
use warnings;
use lib '.';
use FrameBench qw(run_frames);

use constant FRAME_STEP_MS => 40;  # one keyframe per frame at 25 fps

sub main {
    OpenGL::boot_OpenGL();
    Model::boot_Model();
    my $frames = $ENV{BENCH_FRAMES} || 60;
    my $model = Model->new;
    $model->SetParams({fname => "scene.3ds", fps => 25});
    run_frames('Model', 1, $frames, sub { $model->Render($_[0]) }, FRAME_STEP_MS);
    return 0;
}

1;
