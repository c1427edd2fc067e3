# Verifies every DKIM signature of each message file with Mail::DKIM, which
# looks the keys up on the DNS server at 127.0.0.1:port.
#   dkim_verify.pl port message.eml...
# Prints one line per file: the file, a colon, then each signature's result
# ("pass", "fail", "invalid"), comma-separated ("none" when it has none).
use strict;
use warnings;
use Mail::DKIM::Verifier;
use Mail::DKIM::DNS;
use Net::DNS::Resolver;

my ($port, @files) = @ARGV;
my $resolver = Net::DNS::Resolver->new(
    nameservers => ['127.0.0.1'],
    port        => $port,
    recurse     => 1,
    udp_timeout => 5,
    tcp_timeout => 5,
    retry       => 1,
);
Mail::DKIM::DNS::resolver($resolver);

$| = 1;
for my $path (@files) {
    open(my $fh, '<:raw', $path) or die "$path: $!";
    my $verifier = Mail::DKIM::Verifier->new();
    $verifier->load($fh);
    close($fh);
    my @verdicts;
    for my $signature ($verifier->signatures) {
        my $result = $signature->result;
        (my $detail = $signature->result_detail) =~ s/,/;/g;
        push @verdicts, $result eq 'pass' ? 'pass' : "$result($detail)";
    }
    print "$path: ", (join(',', @verdicts) || 'none'), "\n";
}
