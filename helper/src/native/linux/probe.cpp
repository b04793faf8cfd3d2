// Placeholder: the host probe is being written.
