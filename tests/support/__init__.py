"""What the whole-program tests share: the harness, the stand-in daemon, the
stand-in agents and the stand-in model APIs."""
