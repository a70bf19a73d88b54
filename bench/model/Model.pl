# Model benchmark, show side: plays scene.3ds (made by run-model.sh) frame
# after frame and prints its frame rate, like bench/model/ModelPlain.cpp.
use strict;
use warnings;

use constant WARM_UP_FRAMES => 10;
use constant FRAME_STEP_MS => 40;

sub cpu_seconds {
    my ($user, $system) = times;
    return $user + $system;
}

sub main {
    OpenGL::boot_OpenGL();
    Model::boot_Model();
    my $frames = $ENV{BENCH_FRAMES} || 60;
    my $model = Model->new;
    $model->SetParams({fname => "scene.3ds", fps => 25});
    my ($start, $cpuStart) = (0, 0);
    for my $frame (0 .. WARM_UP_FRAMES + $frames - 1) {
        if ($frame == WARM_UP_FRAMES) {
            $start = OpenGL::glGetTime();
            $cpuStart = cpu_seconds();
        }
        OpenGL::glPumpEvents();
        OpenGL::glClear();
        $model->Render($frame * FRAME_STEP_MS);
        OpenGL::SwapBuffers();
    }
    my $seconds = (OpenGL::glGetTime() - $start) / 1000;
    printf "player Model: %.1f fps, %.1f frames per CPU second (%d frames)\n",
        $frames / $seconds, $frames / (cpu_seconds() - $cpuStart), $frames;
    return 0;
}

1;
