/* Built for the target and run at configure time: can this machine run it? */
int
main(void)
{
	return 0;
}
