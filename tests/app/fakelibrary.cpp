// Nothing but a file that carries a version resource, for the library check.
int sorvinda_fake_library_marker = 0;
